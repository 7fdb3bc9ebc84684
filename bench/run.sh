#!/usr/bin/env bash
# Times tarvix beside the converters Debian packages (cmark, and md4c through a small
# driver) on generated documents: MB/s per program, the ratios, and peak memory.
# Usage: bench/run.sh [runs]   (default 5 runs per document; the median counts)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
out=build/bench
docs=$out/docs

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v cc >/dev/null || need+=(gcc)
command -v cmark >/dev/null || need+=(cmark)
[ -f /usr/include/md4c-html.h ] || need+=(libmd4c-dev libmd4c-html0-dev)
[ -x /usr/bin/time ] || need+=(time)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -DTARVIX_BENCH=ON >/dev/null
cmake --build "$out" -j2 --target tarvix tarvix_generate >/dev/null
cc -O2 -o "$out/md4c_driver" bench/md4c_driver.c -lmd4c-html

mkdir -p "$docs"
gen() { [ -s "$docs/$1" ] || "$out/bench/tarvix_generate" "$2" "$3" > "$docs/$1"; }
gen mixed-1MB.md mixed 1000000
gen mixed-10MB.md mixed 10000000
gen mixed-100MB.md mixed 100000000
gen noref-1MB.md mixed-noref 1000000
gen noref-10MB.md mixed-noref 10000000
gen noref-100MB.md mixed-noref 100000000
for k in headings paragraphs emphasis links lists quotes code tables; do gen "sample-$k.md" "$k" 1000000; done

# Median wall time in seconds of `runs` runs of a command, page to /dev/null.
median_time() {
  local times=()
  for ((i = 0; i < runs; i++)); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" > /dev/null
    t1=$(date +%s%N)
    times+=($(( t1 - t0 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.6f", a[int((NR+1)/2)]/1e9}'
}
peak_kb() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }
mbps() { awk -v b="$1" -v t="$2" 'BEGIN { printf "%.1f", (t > 0 ? b / 1e6 / t : 0) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

printf '%-22s %8s %10s %10s %10s %9s %9s %10s\n' document MB tarvix md4c cmark "t/md4c" "t/cmark" "peak MB"
declare -A seconds
for f in "$docs"/mixed-*.md "$docs"/noref-*.md "$docs"/sample-*.md; do
  name=$(basename "$f" .md)
  bytes=$(stat -c %s "$f")
  r=$runs
  [ "$bytes" -gt 50000000 ] && runs=3
  tt=$(median_time "$out/tarvix" "$f")
  tm=$(median_time "$out/md4c_driver" "$f")
  tc=$(median_time cmark "$f")
  runs=$r
  seconds[$name]=$tt
  peak=$(peak_kb "$out/tarvix" "$f")
  st=$(mbps "$bytes" "$tt"); sm=$(mbps "$bytes" "$tm"); sc=$(mbps "$bytes" "$tc")
  printf '%-22s %8.1f %10s %10s %10s %9s %9s %10.1f\n' "$name" "$(awk -v b="$bytes" 'BEGIN{print b/1e6}')" \
    "$st" "$sm" "$sc" "$(ratio "$st" "$sm")" "$(ratio "$st" "$sc")" "$(awk -v k="$peak" 'BEGIN{print k/1024}')"
done
echo "(throughput in MB/s; t/md4c and t/cmark: tarvix's throughput over the peer's)"
echo "time 100MB / 10MB: mixed $(ratio "${seconds[mixed-100MB]}" "${seconds[mixed-10MB]}"), no references $(ratio "${seconds[noref-100MB]}" "${seconds[noref-10MB]}")"
