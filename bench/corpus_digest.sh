#!/usr/bin/env bash
# Prints size and SHA-256 of the compressed form of every corpus file under
# the three models, for comparing two builds byte for byte.
# Usage: corpus_digest.sh MORAVINE [SCRATCH_DIR]
set -euo pipefail
moravine=$(realpath "$1")
scratch=${2:-$(mktemp -d)}
corpus=/work/shared/corpus
mkdir -p "$scratch"
for f in "$corpus"/canterbury/* "$corpus"/calgary/*; do
  name=$(basename "$(dirname "$f")")-$(basename "$f")
  cp "$f" "$scratch/$name"
  for model in "--spaceless" "--words --distance 0" "--words --distance 128"; do
    rm -f "$scratch/$name.hwz"
    # shellcheck disable=SC2086
    "$moravine" -q -j 1 compress $model "$scratch/$name"
    printf '%s\t%s\t%s\t%s\n' "$name" "${model// /}" "$(stat -c %s "$scratch/$name.hwz")" \
      "$(sha256sum < "$scratch/$name.hwz" | cut -c1-16)"
  done
done
