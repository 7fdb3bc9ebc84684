#!/usr/bin/env bash
# Times the live preview's edit to reload on the site bench/site.sh lays out (some 800 real
# documents): the preview serves it, a page is open in headless chromium, and one document
# is edited again and again; each time counts from the start of the write to the open page
# showing the new text. Prints the median (and the extremes) of the edits.
# Usage: bench/preview.sh [edits] [document] [site]   (defaults: 11 edits, the first document,
#   the site of bench/site.sh; build/site-bench/src10 is its ten-fold site)
set -euo pipefail
cd "$(dirname "$0")/.."
edits=${1:-11}
out=build/site-bench
site=${3:-$out/src}
if [ ! -d "$site" ]; then
  bench/site.sh 1 >/dev/null
fi
need=()
command -v npm >/dev/null || need+=(npm)  # Debian's npm only where Node.js brings none
for p in chromium nodejs libboost-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIX_TESTS=OFF >/dev/null
cmake --build "$out/build" -j2 --target tarvix >/dev/null
(cd tests/browser && npm install --no-audit --no-fund >/dev/null)
# The first document in path order (awk reads the whole list: head would end the pipe early).
document=${2:-}
[ -n "$document" ] || document=$(cd "$site" && find . -name '*.md' | LC_ALL=C sort | awk 'NR == 1' | sed 's|^\./||')
node tests/browser/preview.mjs "$PWD/$out/build/tarvix" "$site" "$document" "$edits"
