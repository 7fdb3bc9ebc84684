#!/usr/bin/env bash
# Times tarvix beside the converters Debian packages (md4c through a small driver, and
# cmark) on real documentation in English and in Japanese, generated documents, one sample
# per construct and the hostile catalogue. Runs alternate between the programs and the ratios are medians of
# paired runs, so a busy machine slows all three alike. Page to /dev/null.
# Usage: bench/run.sh [runs]   (default 11 paired runs on real documents, fewer elsewhere)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-11}
out=build/bench
docs=$out/docs

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v cc >/dev/null || need+=(gcc)
command -v cmark >/dev/null || need+=(cmark)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/md4c-html.h ] || need+=(libmd4c-dev libmd4c-html0-dev)
[ -x /usr/bin/time ] || need+=(time)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF -DTARVIX_BENCH=ON >/dev/null
cmake --build "$out" -j2 --target tarvix tarvix_generate >/dev/null
cc -O2 -o "$out/md4c_driver" bench/md4c_driver.c -lmd4c-html

mkdir -p "$docs"
[ -s "$docs/real-100MB.md" ] || bench/realdocs.sh "$docs" en
[ -s "$docs/real-ja-100MB.md" ] || bench/realdocs.sh "$docs" ja
gen() { [ -s "$docs/$1" ] || "$out/bench/tarvix_generate" "$2" "$3" > "$docs/$1"; }
gen mixed-10MB.md mixed 10000000
gen mixed-100MB.md mixed 100000000
gen noref-10MB.md mixed-noref 10000000
gen noref-100MB.md mixed-noref 100000000
for k in headings paragraphs emphasis links lists quotes code tables; do
  gen "sample-$k.md" "$k" 10000000
done
hostile=(star-underscore printable bytes bytes-line cjk-line table-column table-one table-wide
  quote-line backticks link-open brackets angles)
for k in "${hostile[@]}"; do
  gen "hostile-$k-10MB.md" "$k" 10000000
  gen "hostile-$k-50MB.md" "$k" 50000000
done
# Random bytes 32-255 with no line end, as a broken upload or a binary file sent as a
# document: 2.5 MB from Python's generator with seed 5, repeated to the size.
random_bytes() {
  [ -s "$docs/$1" ] || python3 -c '
import random, sys
r = random.Random(5)
chunk = bytes(r.randrange(32, 256) for _ in range(2500000))
size = int(sys.argv[1])
sys.stdout.buffer.write((chunk * (size // len(chunk) + 1))[:size])' "$2" > "$docs/$1"
}
random_bytes random-bytes-10MB.md 10000000
random_bytes random-bytes-50MB.md 50000000

now() { date +%s%N; }
# Wall time in nanoseconds of one run.
one() {
  local t0
  t0=$(now)
  "$@" > /dev/null 2>&1 || true
  echo $(($(now) - t0))
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR ? a[int((NR+1)/2)] : 0)}'; }
peak_kb() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }

# Measures one document with `n` paired runs; prints one row, and "BAR" lines it misses.
# bar: real (0.6 x md4c's time, 2 x input + 16 MB), construct (no slower than md4c),
# hostile (30 MB/s, 3 x input + 16 MB or input + 1.1 x page + 16 MB), random (the same
# at 60 MB/s: random bytes should cost what text costs), none.
# In the hostile catalogue cmark is left out: several samples take it minutes a run, and
# no bar there looks at it (its column shows "-").
measure() {
  local f=$1 n=$2 bar=$3
  local name bytes
  name=$(basename "$f" .md)
  bytes=$(stat -c %s "$f")
  local tt=() tm=() tc=() rm=() rc=()
  for ((i = 0; i < n; i++)); do
    local a b c
    a=$(one "$out/tarvix" "$f")
    b=$(one "$out/md4c_driver" "$f")
    if [ "$bar" = hostile ] || [ "$bar" = random ]; then c=0; else c=$(one cmark "$f"); fi
    tt+=("$a"); tm+=("$b"); tc+=("$c")
    rm+=("$(awk -v a="$a" -v b="$b" 'BEGIN{printf "%.4f", a/b}')")
    rc+=("$(awk -v a="$a" -v b="$c" 'BEGIN{printf "%.4f", b ? a/b : 0}')")
  done
  local mt mm mc qm qc pt pm page
  mt=$(printf '%s\n' "${tt[@]}" | median)
  mm=$(printf '%s\n' "${tm[@]}" | median)
  mc=$(printf '%s\n' "${tc[@]}" | median)
  qm=$(printf '%s\n' "${rm[@]}" | median)
  qc=$(printf '%s\n' "${rc[@]}" | median)
  pt=$(peak_kb "$out/tarvix" "$f")
  pm=$(peak_kb "$out/md4c_driver" "$f")
  page=$("$out/tarvix" "$f" | wc -c)
  awk -v name="$name" -v b="$bytes" -v mt="$mt" -v mm="$mm" -v mc="$mc" -v qm="$qm" \
    -v qc="$qc" -v pt="$pt" -v pm="$pm" -v page="$page" -v bar="$bar" 'BEGIN {
    mb = b / 1e6; ptm = pt * 1024 / 1e6; pmm = pm * 1024 / 1e6
    cm = mc ? sprintf("%9.1f", b / 1e3 / (mc / 1e6)) : sprintf("%9s", "-")
    cq = mc ? sprintf("%7.2f", qc) : sprintf("%7s", "-")
    printf "%-28s %7.1f %9.1f %9.1f %s %7.2f %s %9.1f %9.1f %9.1f\n", name, mb,
      b / 1e3 / (mt / 1e6), b / 1e3 / (mm / 1e6), cm, qm, cq, ptm, pmm, page / 1e6
    if (bar == "real") {
      if (qm > 0.6) printf "BAR %s: time %.2f x md4c, above 0.6\n", name, qm
      if (ptm > 2 * mb + 16) printf "BAR %s: peak %.1f MB, above %.1f\n", name, ptm, 2 * mb + 16
    } else if (bar == "construct") {
      if (qm > 1.0) printf "BAR %s: time %.2f x md4c, slower than md4c\n", name, qm
    } else if (bar == "hostile" || bar == "random") {
      limit = 3 * mb + 16
      if (page > 2 * b) limit = mb + 1.1 * page / 1e6 + 16
      speed = bar == "random" ? 60 : 30
      if (b / 1e3 / (mt / 1e6) < speed)
        printf "BAR %s: %.1f MB/s, below %d\n", name, b / 1e3 / (mt / 1e6), speed
      if (ptm > limit) printf "BAR %s: peak %.1f MB, above %.1f\n", name, ptm, limit
    }
  }'
}

header() {
  echo
  echo "$1"
  printf '%-28s %7s %9s %9s %9s %7s %7s %9s %9s %9s\n' document MB tarvix md4c cmark \
    "t/md4c" "t/cmark" "peak MB" "md4c MB" "page MB"
}

header "Real documentation ($runs paired runs)"
measure "$docs/real-10MB.md" "$runs" real
measure "$docs/real-100MB.md" "$runs" real
measure "$docs/real-ja-10MB.md" "$runs" real
measure "$docs/real-ja-100MB.md" "$runs" real
small=$(((runs + 1) / 2))
header "Generated documents ($small paired runs)"
for f in "$docs"/mixed-*.md "$docs"/noref-*.md; do measure "$f" "$small" none; done
header "One construct each, 10 MB ($small paired runs)"
for k in headings paragraphs emphasis links lists quotes code tables; do
  measure "$docs/sample-$k.md" "$small" construct
done
header "Hostile catalogue (3 paired runs, without cmark)"
for k in "${hostile[@]}"; do
  measure "$docs/hostile-$k-10MB.md" 3 hostile
  measure "$docs/hostile-$k-50MB.md" 3 hostile
done
measure "$docs/random-bytes-10MB.md" 3 random
measure "$docs/random-bytes-50MB.md" 3 random
echo
echo "(MB/s per program, medians; t/md4c and t/cmark: medians of tarvix's time over the"
echo " peer's in paired runs, below 1 is faster; peak: maximum resident set; BAR lines name"
echo " each figure that misses its bar)"
