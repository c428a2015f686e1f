#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets from a few small texts:
#   OUT/roundtrip/  the texts themselves
#   OUT/container/  each text compressed under both models (.hwz files)
# Usage: make_seeds.sh OUT [MORAVINE_BINARY]
# Without a binary, the moravine target is built in $MORAVINE_FUZZ_BUILD
# (default build-fuzz, which must already be configured).
set -euo pipefail

out=${1:?usage: make_seeds.sh OUT [MORAVINE_BINARY]}
root=$(cd "$(dirname "$0")/.." && pwd)
moravine=${2:-}
if [ -z "$moravine" ]; then
  build=${MORAVINE_FUZZ_BUILD:-$root/build-fuzz}
  ninja -C "$build" moravine >/dev/null
  moravine=$build/cli/moravine
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf 'The quick brown fox jumps over the lazy dog.\nThe dog sleeps; the fox runs away!\n' >"$work/prose.txt"
printf '  leading blanks,  double  blanks\tand a tab\n\n\nblank lines, then the end' >"$work/blanks.txt"
printf 'word' >"$work/one_word.txt"
printf '... --- !!! ???\n' >"$work/separators.txt"
printf 'r\xc3\xa9sum\xc3\xa9 na\xc3\xafve 2024 x86_64 caf\xc3\xa9 \xff\xfe\x01 end\n' >"$work/bytes.txt"
# Enough distinct words for two-byte codewords.
for i in $(seq 1 400); do printf 'w%d ' "$((i % (i % 7 + 1) * 37 + i))"; done >"$work/many_words.txt"

rm -rf "$out"
mkdir -p "$out/roundtrip" "$out/container"
for text in "$work"/*.txt; do
  name=$(basename "$text" .txt)
  cp "$text" "$out/roundtrip/$name"
  "$moravine" compress --spaceless "$text"
  mv "$text.hwz" "$out/container/$name.spaceless.hwz"
  "$moravine" compress --words --distance 8 "$text"
  mv "$text.hwz" "$out/container/$name.words.hwz"
done
echo "make_seeds: $(ls "$out/container" | wc -l) compressed and $(ls "$out/roundtrip" | wc -l) plain seeds in $out"
