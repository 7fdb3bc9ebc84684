#!/usr/bin/env bash
# Times the site run on a site of real documents: the Markdown that Debian packages ship
# under /usr/share/doc (npm's, its modules' and Node.js's), de-duplicated and laid out as files.
# Compares `-j 1` with a shell loop that runs the program once per document, `-j 2` with
# `-j 1`, and a second run on the unchanged tree with the first. Medians of paired runs.
# Then the link check's share: on a first run each page is scanned and its record made, on
# an unchanged rerun the records are read back and the whole site checked from them.
# Then the cost of the state file the run writes while it works: one write of it as the
# program makes it (a temporary file flushed to disk, renamed, the folder flushed), and a
# run after one document changed, which writes it twice (before its first file, at the end).
# Then a first run with the site's navigation in the template against one without it, an
# edit under the navigation that converts one page, and the cost of the highlighter folder.
# Usage: bench/site.sh [runs] [documents]   (defaults: 5 runs, every document, about 800)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
count=${2:-100000}
out=build/site-bench
# The site's documents come from npm's Debian package and the packages it depends on (its
# modules' READMEs, most of them short) and from Node.js's manual (long API references),
# unpacked into the benchmark's folder rather than installed: the set is
# the same whatever else the machine has, and the Node.js a machine already has (one that
# conflicts with Debian's npm) stays.
doc_root=$out/debs/root

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF \
  -DTARVIX_BENCH=ON >/dev/null
cmake --build "$out/build" -j2 --target tarvix tarvix_link_check >/dev/null
tarvix=$PWD/$out/build/tarvix

if [ ! -d "$doc_root/usr/share/doc" ]; then
  mkdir -p "$out/debs"
  packages=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts \
    --no-breaks --no-replaces --no-enhances npm 2>/dev/null | grep -E '^(node-|npm$)' | sort -u)
  packages="$packages nodejs-doc"
  # shellcheck disable=SC2086 # one word a package
  (cd "$out/debs" && apt-get download $packages >/dev/null 2>&1) ||
    (apt-get update -qq && cd "$out/debs" && apt-get download $packages >/dev/null)
  mkdir -p "$doc_root"
  for deb in "$out"/debs/*.deb; do dpkg-deb -x "$deb" "$doc_root"; done
fi
link_check=$PWD/$out/build/bench/tarvix_link_check

# The site: the first `count` distinct documents in path order, at their place below
# usr/share/doc, compressed ones unpacked.
site=$out/src
if [ ! -f "$out/src.count" ] || [ "$(cat "$out/src.count")" != "$count" ]; then
  rm -rf "$site"
  mkdir -p "$site"
  declare -A seen
  n=0
  while IFS= read -r f; do
    rel=${f#"$doc_root"/usr/share/doc/}
    rel=${rel%.gz}
    if [[ $f == *.gz ]]; then body=$(gzip -dc "$f" 2>/dev/null) || continue; else body=$(cat "$f"); fi
    sum=$(printf '%s' "$body" | md5sum | cut -d' ' -f1)
    [ -n "${seen[$sum]:-}" ] && continue
    seen[$sum]=1
    mkdir -p "$site/$(dirname "$rel")"
    printf '%s\n' "$body" > "$site/$rel"
    n=$((n + 1))
    [ "$n" -ge "$count" ] && break
  done < <(find "$doc_root/usr/share/doc" \( -name '*.md' -o -name '*.md.gz' \) -type f | LC_ALL=C sort)
  echo "$count" > "$out/src.count"
fi
docs=$(find "$site" -name '*.md' | wc -l)
bytes=$(find "$site" -name '*.md' -exec cat {} + | wc -c)
echo "site: $docs documents, $bytes bytes"

# The clock in nanoseconds, read without starting a process: a run of a few milliseconds
# would otherwise be timed with the start of `date` in it.
now() { printf -v "$1" '%s000' "${EPOCHREALTIME//[!0-9]/}"; }
# The folders of the loop's pages, made once: the loop times the conversions alone.
(cd "$site" && find . -type d) | while IFS= read -r d; do mkdir -p "$out/loop/$d"; done

loop_t=() j1_t=() j2_t=() again_t=()
for ((i = 0; i < runs; i++)); do
  now t0
  while IFS= read -r rel; do
    "$tarvix" "$site/$rel" -o "$out/loop/${rel%.md}.html" -root "$out/loop" >/dev/null
  done < <(cd "$site" && find . -name '*.md' | sed 's|^\./||')
  now t1; loop_t+=($((t1 - t0)))

  rm -rf "$out/j1" "$out/j2"
  now t0; "$tarvix" "$site" -o "$out/j1" -j 1 >/dev/null 2>&1; now t1; j1_t+=($((t1 - t0)))
  now t0; "$tarvix" "$site" -o "$out/j1" -j 1 >/dev/null 2>&1; now t1; again_t+=($((t1 - t0)))
  now t0; "$tarvix" "$site" -o "$out/j2" -j 2 >/dev/null 2>&1; now t1; j2_t+=($((t1 - t0)))
done
# The pages of the site run are those of the loop.
diff -r -q -x .ht-tarvix-site -x SyntaxHighlighter "$out/loop" "$out/j1" >/dev/null && diff -r -q -x .ht-tarvix-site "$out/j1" "$out/j2" >/dev/null &&
  echo "pages: -j 1, -j 2 and the loop agree" || echo "pages: DIFFER"

# One document changed: the run converts it and writes the news of the state beside it.
one_t=()
first=$(cd "$site" && find . -name '*.md' | LC_ALL=C sort | sed -n 1p)
for ((i = 0; i < runs; i++)); do
  touch "$site/$first"
  now t0; "$tarvix" "$site" -o "$out/j1" -j 1 >/dev/null 2>&1; now t1; one_t+=($((t1 - t0)))
done
# One write of the state file as the run makes it, timed inside one process.
state_bytes=$(wc -c <"$out/j1/.ht-tarvix-site")
state_ns=$(python3 - "$out/j1/.ht-tarvix-site" "$runs" <<'PY'
import os, sys, time
path, runs = sys.argv[1], int(sys.argv[2])
data = open(path, 'rb').read()
folder = os.path.dirname(path)
times = []
for _ in range(max(runs, 5)):
    t0 = time.perf_counter_ns()
    tmp = os.path.join(folder, '.TarvixBench0')
    fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    os.write(fd, data); os.fsync(fd); os.close(fd)
    os.rename(tmp, os.path.join(folder, '.ht-tarvix-site-bench'))
    dfd = os.open(folder, os.O_RDONLY); os.fsync(dfd); os.close(dfd)
    times.append(time.perf_counter_ns() - t0)
os.remove(os.path.join(folder, '.ht-tarvix-site-bench'))
print(sorted(times)[len(times) // 2])
PY
)

# The site with ####NAV#### in its template: a first run against the same template without
# it (each into a folder of its own, never one just removed: the file system's cost of
# reusing freed entries would swamp the difference), then an edit that changes no title,
# which converts that one page. Then the first run without the highlighter folder.
printf '<html><head><title>####TITLE####</title></head><body><nav></nav>####BODY####\n####SYNTAX####</body></html>\n' >"$out/plain.html"
printf '<html><head><title>####TITLE####</title></head><body><nav>####NAV####</nav>####BODY####\n####SYNTAX####</body></html>\n' >"$out/nav.html"
rm -rf "$out/first"
mkdir -p "$out/first"
plain_t=() nav_t=() noh_t=() navedit_t=()
for ((i = 0; i < runs; i++)); do
  now t0; "$tarvix" "$site" -o "$out/first/plain$i" -t "$out/plain.html" >/dev/null 2>&1; now t1; plain_t+=($((t1 - t0)))
  now t0; "$tarvix" "$site" -o "$out/first/nav$i" -t "$out/nav.html" >/dev/null 2>&1; now t1; nav_t+=($((t1 - t0)))
  now t0; "$tarvix" "$site" -o "$out/first/noh$i" -t "$out/plain.html" -nohighlighter >/dev/null 2>&1; now t1; noh_t+=($((t1 - t0)))
done
highlighter_files=$(find "$out/first/plain0" -path '*/SyntaxHighlighter/*' -type f | wc -l)
# The body of the first document grows by a line: its title stays, one page is converted.
navedit_converted=
cp "$site/$first" "$out/first.keep"
for ((i = 0; i < runs; i++)); do
  printf '\nOne more line.\n' >>"$site/$first"
  now t0; navedit_converted=$("$tarvix" "$site" -o "$out/first/nav0" -t "$out/nav.html" 2>&1 >/dev/null | tail -1 | cut -d' ' -f1); now t1
  navedit_t+=($((t1 - t0)))
done
mv "$out/first.keep" "$site/$first"
rm -rf "$out/first"

# The ten-fold site: the site copied into ten folders. Its first run against the site's
# (each into a folder of its own), its unchanged rerun against a process start (the
# program's --version), and an edit of one of its documents against its unchanged rerun:
# what an edit costs must not grow with the site.
site10=$out/src10
if [ ! -f "$out/src10.count" ] || [ "$(cat "$out/src10.count")" != "$count" ]; then
  rm -rf "$site10"
  mkdir -p "$site10"
  for c in 0 1 2 3 4 5 6 7 8 9; do cp -R "$site" "$site10/copy$c"; done
  echo "$count" > "$out/src10.count"
fi
docs10=$(find "$site10" -name '*.md' | wc -l)
bytes10=$(find "$site10" -name '*.md' -exec cat {} + | wc -c)
first10=copy0/${first#./}
rm -rf "$out/ten"
mkdir -p "$out/ten"
one1_t=() one10_t=() start_t=() again10_t=() edit10_t=()
cp "$site10/$first10" "$out/first10.keep"
for ((i = 0; i < runs; i++)); do
  now t0; "$tarvix" "$site" -o "$out/ten/one$i" >/dev/null 2>&1; now t1; one1_t+=($((t1 - t0)))
  now t0; "$tarvix" "$site10" -o "$out/ten/ten$i" >/dev/null 2>&1; now t1; one10_t+=($((t1 - t0)))
  now t0; "$tarvix" --version >/dev/null 2>&1; now t1; start_t+=($((t1 - t0)))
  now t0; "$tarvix" "$site10" -o "$out/ten/ten0" >/dev/null 2>&1; now t1; again10_t+=($((t1 - t0)))
  printf '\nOne more line.\n' >>"$site10/$first10"
  now t0; "$tarvix" "$site10" -o "$out/ten/ten0" >/dev/null 2>&1; now t1; edit10_t+=($((t1 - t0)))
  [ "$i" -gt 0 ] && rm -rf "$out/ten/one$i" "$out/ten/ten$i"
done
mv "$out/first10.keep" "$site10/$first10"
state10=$(wc -c <"$out/ten/ten0/.ht-tarvix-site")
news10=$(wc -c <"$out/ten/ten0/.ht-tarvix-news" 2>/dev/null || echo none)
peak10=$( (/usr/bin/time -f '%M' "$tarvix" "$site10" -o "$out/ten/peak" >/dev/null) 2>&1 | tail -n 1)
rm -rf "$out/ten"

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio_median() { # median of the paired ratios a[i]/b[i]
  local -n a=$1 b=$2
  for ((k = 0; k < ${#a[@]}; k++)); do awk -v x="${a[k]}" -v y="${b[k]}" 'BEGIN {printf "%.4f\n", x / y}'; done |
    sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
ms() { awk -v n="$1" 'BEGIN {printf "%.1f ms", n / 1e6}'; }
echo "loop (one run per document): $(ms "$(median "${loop_t[@]}")")"
echo "-j 1:                        $(ms "$(median "${j1_t[@]}")")"
echo "-j 2:                        $(ms "$(median "${j2_t[@]}")")"
echo "second run, unchanged tree:  $(ms "$(median "${again_t[@]}")")"
echo "-j 1 / loop:        $(ratio_median j1_t loop_t)   (bar: at most 0.5)"
echo "-j 2 / -j 1:        $(ratio_median j2_t j1_t)   (bar: at most 0.65)"
echo "second / first run: $(ratio_median again_t j1_t)   (bar: under 0.05)"
echo "one document changed:        $(ms "$(median "${one_t[@]}")")   (one page, the news of the state)"
"$link_check" "$out/j1" "$runs" 2>/dev/null | awk '
  /^pages:/ {print "link check over " $0}
  /^scan:/ {scan = $2} /^format:/ {format = $2} /^parse:/ {parse = $2} /^check:/ {check = $2}
  /^broken:/ {print "broken links: " $2}
  END {
    printf "link check, first run (scan and record each page):  %.2f ms\n", scan + format
    printf "link check, unchanged rerun (records read, check):  %.2f ms\n", parse + check
  }'
echo "first run, template without ####NAV####: $(ms "$(median "${plain_t[@]}")")"
echo "first run, template with ####NAV####:    $(ms "$(median "${nav_t[@]}")")"
echo "with / without ####NAV####: $(ratio_median nav_t plain_t)   (bar: at most 1.15)"
echo "an edit that changes no title, with ####NAV####: $(ms "$(median "${navedit_t[@]}")") ($navedit_converted page converted)"
echo "first run, -nohighlighter: $(ms "$(median "${noh_t[@]}")"); with the highlighter folder: $highlighter_files files, $(ratio_median plain_t noh_t) times as long"
echo "state file: $state_bytes bytes; one flushed write: $(ms "$state_ns")"
echo "periodic state writes: one per 2 s of work, $(awk -v n="$state_ns" 'BEGIN {printf "%.2f", n / 2e9 * 100}') % of a long run"
echo
echo "ten-fold site: $docs10 documents, $bytes10 bytes"
start=$(median "${start_t[@]}")
again10=$(median "${again10_t[@]}")
echo "first run, the site:          $(ms "$(median "${one1_t[@]}")")"
echo "first run, ten-fold:          $(ms "$(median "${one10_t[@]}")")   peak $((peak10 / 1024)) MB"
echo "ten-fold / site, first run: $(ratio_median one10_t one1_t)   (bar: at most 11)"
awk -v a="$again10" -v s="$start" -v d="$docs10" 'BEGIN {
  printf "unchanged rerun, ten-fold:    %.1f ms; a process start %.1f ms; %.1f us a document past it   (bar: at most 20)\n",
    a / 1e6, s / 1e6, (a - s) / 1e3 / d }'
awk -v e="$(median "${edit10_t[@]}")" -v a="$again10" 'BEGIN {
  printf "one document edited, ten-fold: %.1f ms, %.1f ms past the unchanged rerun   (bar: at most 20)\n",
    e / 1e6, (e - a) / 1e6 }'
echo "what the edits wrote of the state: news of $news10 bytes beside a state of $state10 bytes"
