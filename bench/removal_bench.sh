#!/usr/bin/env bash
# Usage: removal_bench.sh COUNT [ROUNDS]
# Times `moravine compress` and then `moravine remove-original` on one folder
# of COUNT small files (pieces of 2 to 6 KB of resources/samples/tom-sawyer.txt),
# and, after a fresh compress and a `sync`, remove-compressed on a copy of the
# folder's state. Run it on a real disk: on tmpfs a flush costs nothing.
# The folder is bench/data/removal (or $DIR); M names the program (default:
# build/cli/moravine). Prints wall-clock seconds of each whole command, the
# load average around it, and the ratio remove / compress.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
count=${1:?usage: removal_bench.sh COUNT [ROUNDS]}
rounds=${2:-1}
M=${M:-$here/build/cli/moravine}
dir=${DIR:-$here/bench/data/removal}
sample=$here/resources/samples/tom-sawyer.txt

make_folder() {
  rm -rf "$dir"
  mkdir -p "$dir"
  python3 - "$sample" "$dir" "$count" <<'EOF'
import os, random, sys
text = open(sys.argv[1], "rb").read()
folder, count = sys.argv[2], int(sys.argv[3])
rnd = random.Random(7)
for i in range(count):
    size = rnd.randint(2048, 6144)
    start = rnd.randrange(0, len(text) - size)
    with open(os.path.join(folder, f"piece{i:06d}.txt"), "wb") as f:
        f.write(text[start:start + size])
EOF
  sync
}

# Runs the command, prints its wall time in seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@"
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

load() { cut -d' ' -f1-3 /proc/loadavg; }
count_files() { find "$dir" -maxdepth 1 -type f -name "$1" | wc -l; }

mkdir -p "$dir"
echo "moravine: $M ($($M --version 2>&1 | head -1)); folder: $dir, on $(df -T "$dir" | awk 'NR==2 {print $2}')"
echo "files: $count; cores: $(nproc)"
for round in $(seq "$rounds"); do
  make_folder
  echo "round $round: load before compress: $(load)"
  c=$(timed "$M" -q compress "$dir")
  echo "  compress:          ${c} s   (load $(load))"
  r=$(timed "$M" -q remove-original "$dir")
  echo "  remove-original:   ${r} s   (load $(load)); right after compress, its outputs still to be flushed"
  left=$(count_files '*.txt'); kept=$(count_files '*.hwz')
  [ "$left" -eq 0 ] && [ "$kept" -eq "$count" ] || { echo "  WRONG: $left originals left, $kept compressed files"; exit 1; }
  echo "  ratio remove-original / compress: $(echo "scale=2; $r / $c" | bc)"
  "$M" -q decompress "$dir"
  sync
  echo "  (decompressed again and synced; load $(load))"
  r=$(timed "$M" -q remove-compressed "$dir")
  echo "  remove-compressed: ${r} s   (load $(load)); after a sync"
  left=$(count_files '*.hwz'); kept=$(count_files '*.txt')
  [ "$left" -eq 0 ] && [ "$kept" -eq "$count" ] || { echo "  WRONG: $left compressed files left, $kept originals"; exit 1; }
done
rm -rf "$dir"
