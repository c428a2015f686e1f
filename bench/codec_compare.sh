#!/bin/bash
# Usage: M=path/to/moravine codec_compare.sh FILE [RUNS], from a scratch folder
# (tmpfs keeps disk writes out of the times); needs perf, bc and /usr/bin/time.
# Compresses (one thread, -T 1, and two, -T 2) and decompresses FILE with moravine (three models), gzip and
# zstd, printing the best-of-N CPU time (perf task-clock: user + system) and wall time of whole
# commands, peak RSS from /usr/bin/time; outputs written to files in tmpfs.
M=${M:?set M to the moravine program}
best() { # label, runs, cmd
  local label=$1 runs=$2 cmd=$3 bc=999999 bw=999999 bm=0
  for r in $(seq $runs); do
    eval "$PRE"
    local out; out=$(perf stat -x, -e task-clock /usr/bin/time -f "RSS %M" bash -c "$cmd" 2>&1 >/dev/null)
    local c=$(echo "$out" | grep task-clock | cut -d, -f1) m=$(echo "$out" | grep '^RSS' | cut -d' ' -f2)
    local w0=$(date +%s.%N); eval "$PRE"; bash -c "$cmd" >/dev/null 2>&1; local w=$(echo "$(date +%s.%N) - $w0" | bc)
    (( $(echo "$c < $bc" | bc) )) && bc=$c; (( $(echo "$w < $bw" | bc) )) && bw=$w; (( m > bm )) && bm=$m
  done
  printf "%-28s cpu %8.3f s  wall %7.3f s  peak %7.1f MB\n" "$label" $(echo "$bc/1000" | bc -l) $bw $(echo "$bm/1024" | bc -l)
}
f=$1; runs=${2:-3}; name=$(basename $f)
mkdir -p w d; cp $f w/t; echo "== $name $(stat -c %s w/t) bytes, load $(cut -d' ' -f1 /proc/loadavg)"
for mm in "spaceless:--spaceless" "words-d0:--words --distance 0" "words-d128:--words"; do
  n=${mm%%:*}; o=${mm#*:}
  PRE="rm -f w/t.hwz"; best "moravine $n compress" $runs "$M -q -j 1 compress -T 1 $o w/t"
  cp w/t.hwz d/t.hwz; echo "   compressed $(stat -c %s w/t.hwz)"
  PRE="rm -f w/t.hwz"; best "moravine $n compress -T 2" $runs "$M -q -j 1 compress -T 2 $o w/t"
  cmp w/t.hwz d/t.hwz || echo "MISMATCH between -T 1 and -T 2"
  PRE="rm -f d/t"; best "moravine $n decompress" $runs "$M -q -j 1 decompress d/t.hwz"
  cmp d/t w/t || echo MISMATCH
done
PRE=":"
best "gzip -6" $runs "gzip -6 -c < w/t > w/t.gz"; best "gzip -d" $runs "gzip -d -c < w/t.gz > w/t.o"
best "zstd -3 -T1" $runs "zstd -3 -T1 -q -c < w/t > w/t.zst"; best "zstd -3 -T2" $runs "zstd -3 -T2 -q -c < w/t > w/t.zst"
best "zstd -d" $runs "zstd -d -q -c < w/t.zst > w/t.o"
echo "   load at end $(cut -d' ' -f1 /proc/loadavg)"
rm -rf w d
