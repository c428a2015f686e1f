#!/usr/bin/env bash
# End-to-end check of the longest text that compression accepts: a file of
# 2^31 - 1 bytes (long repeated words, so it compresses and decodes fast) is
# compressed and decompressed by the command line under both models, and the
# result compared byte for byte. Needs about 6.5 GB of free disk in the
# scratch directory and 2 GiB of memory.
# Usage: max_size.sh [MORAVINE] [SCRATCH_DIR]
set -euo pipefail
moravine=$(realpath "${1:-build/cli/moravine}")
scratch=${2:-build/bench-data/max-size}
mkdir -p "$scratch"
text=$scratch/max.txt
python3 - "$text" <<'PY'
import sys
size = 2**31 - 1
line = b"w" * 999 + b"\n"
block = line * 1024
with open(sys.argv[1], "wb") as f:
    left = size
    while left >= len(block):
        f.write(block)
        left -= len(block)
    f.write((line * (left // len(line) + 1))[:left])
PY
test "$(stat -c %s "$text")" -eq 2147483647
for model in --spaceless --words; do
  rm -f "$text.hwz"
  start=$(date +%s.%N)
  "$moravine" -q -j 1 compress "$model" "$text"
  mid=$(date +%s.%N)
  mkdir -p "$scratch/out"
  mv "$text.hwz" "$scratch/out/max.txt.hwz"
  rm -f "$scratch/out/max.txt"
  "$moravine" -q -j 1 decompress "$scratch/out/max.txt.hwz"
  end=$(date +%s.%N)
  cmp "$text" "$scratch/out/max.txt"
  echo "$model: $(stat -c %s "$scratch/out/max.txt.hwz") compressed bytes;" \
    "compress $(echo "$mid - $start" | bc) s, decompress $(echo "$end - $mid" | bc) s; round trip exact"
  rm -f "$scratch/out/max.txt" "$scratch/out/max.txt.hwz"
done
rm -f "$text"
