#!/usr/bin/env bash
# The benchmarks behind `./kuvo bench`: runs each figure with its baseline in the same run,
# prints the table and writes it as CSV.
#   tools/bench/bench.sh BENCH_BUILD_DIR OUT_DIR      (run by ./kuvo bench, wine set up)
# Environment: KUVO_BENCH_REPS (control-path repetitions, default 200).
set -uo pipefail
BUILD=$1
OUT=$2
BIN=$BUILD/x86_64/bin
WINE=${KUVO_WINE:?run through ./kuvo bench}
mkdir -p "$OUT"
CSV=$OUT/bench.csv
ROWS=()
rc=0

row() { ROWS+=("$1|$2|$3|$4|$5|$6"); }

# B3 and B5: simulator, library server and client, one process.
if out=$("$WINE" "$BIN/kuvobench.exe" --reps "${KUVO_BENCH_REPS:-200}" 2> "$OUT/kuvobench.log"); then :; else rc=1; fi
while IFS= read -r line; do
  [ -n "$line" ] && ROWS+=("$(echo "$line" | tr -d '\r')")
done <<< "$out"

# B1, B2: the ASIO test host streaming through the driver (its own simulator and service
# stand-in). The host offers the buffer sizes 64 to 512; 32 and 16 are not in the simulator's
# size classes. KUVO_BENCH_FULL=1 runs B2 for the full 60 s per size (default 10 s) and B1
# for 120 s (default 30 s).
host() { "$WINE" "$BIN/kuvoasiohost.exe" "$@" 2>&1 | tr -d '\r'; }
if [ -x "$BIN/kuvoasiohost.exe" ] && [ -f "$BIN/kuvoasio.dll" ]; then
  b1s=30; b2s=10
  [ "${KUVO_BENCH_FULL:-0}" = 1 ] && { b1s=120; b2s=60; }
  report=$(host --seconds "$b1s" --buffer 64); echo "$report" > "$OUT/b1-host.log"
  lat=$(echo "$report" | sed -n 's/.*p50 \([0-9]*\) us, p99 \([0-9]*\) us, max \([0-9]*\) us (\([0-9]*\) switches).*/\1 \2 \3 \4/p')
  if [ -n "$lat" ]; then
    read -r p50 p99 max n <<< "$lat"
    ping=$("$WINE" "$BIN/kuvoping.exe" --count "$n" --period-us 1333 2>/dev/null | tr -d '\r')
    read -r q50 q99 qmax qn <<< "$ping"
    ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
    verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r != "n/a" && r <= g) ? "met" : "missed" }'; }
    r50=$(ratio "$p50" "$q50"); r99=$(ratio "$p99" "$q99")
    row "B1 switch latency p50 (us), $n switches" "$p50" "$q50" "$r50" "<= 1.10" "$(verdict "$r50" 1.10)"
    row "B1 switch latency p99 (us)" "$p99" "$q99" "$r99" "<= 1.10" "$(verdict "$r99" 1.10)"
    row "B1 switch latency max (us)" "$max" "$qmax" "$(ratio "$max" "$qmax")" "report" "-"
  else
    row "B1 switch latency" "n/a" "n/a" "n/a" "<= 1.10" "host run failed (see b1-host.log)"; rc=1
  fi
  for size in 256 128 64; do
    report=$(host --seconds "$b2s" --buffer "$size"); echo "$report" > "$OUT/b2-$size.log"
    missed=$(echo "$report" | sed -n 's/.*Missed switches (ASIO error counter): \([0-9]*\).*/\1/p')
    gaps=$(echo "$report" | sed -n 's/.*Sample positions: .*(\([0-9]*\) gaps).*/\1/p')
    switches=$(echo "$report" | sed -n 's/.*Switches received: \([0-9]*\).*/\1/p')
    row "B2 missed/position jumps at $size, ${b2s}s" "${missed:-?}/${gaps:-?}" "${switches:-?} switches" "-" "report" "-"
  done
  row "B2 missed switches at 32 and 16" "n/a" "n/a" "n/a" "0 at 32" "not run: no such size class in the simulator"
else
  row "B1 switch latency" "n/a" "n/a" "n/a" "<= 1.10" "not run: no ASIO test host"
  row "B2 missed switches" "n/a" "n/a" "n/a" "0 at 32" "not run: no ASIO test host"
fi
row "B4 allocations/locks/requests per switch" "n/a" "n/a" "n/a" "0/0/0" "not run: instrumentation not built yet"

{
  echo "figure,value,baseline,ratio,goal,verdict"
  for r in "${ROWS[@]}"; do echo "$r" | tr '|' ','; done
} > "$CSV"
printf '%-42s %12s %12s %8s %9s  %s\n' figure value baseline ratio goal verdict
for r in "${ROWS[@]}"; do
  IFS='|' read -r a b c d e f <<< "$r"
  printf '%-42s %12s %12s %8s %9s  %s\n' "$a" "$b" "$c" "$d" "$e" "$f"
done
echo "bench: table written to $CSV; details in $OUT/kuvobench.log" >&2
exit $rc
