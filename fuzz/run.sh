#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each for the given time: the conversion fuzzer on a corpus seeded from the
# examples and the seeds, the page fuzzer (a template and a document) on fuzz/page-seeds.
# Usage: fuzz/run.sh [seconds] (default 60, for each). Findings land in
# build/fuzz/findings; the growing corpora stay in build/fuzz/corpus and
# build/fuzz/page-corpus. Inputs go up to 64 KB from the start (libFuzzer would otherwise
# grow its length limit slowly), and a run that takes more than 2 GB, or
# one allocation of more than 1 GB, is a finding: a page that grows without bound is one.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=${TARVIX_FUZZ_OUT:-build/fuzz}

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null
fi

mkdir -p "$out/corpus" "$out/page-corpus" "$out/findings"
# The fuzzer converts and never serves: it takes the server that says it is not built.
sources=$(ls src/*/*.cpp | grep -v -e 'src/app/Main.cpp' -e '_win32.cpp' -e 'src/serve/HttpServer_CL.cpp')
# The site run's sources name the build identity the build computes: made here the same way.
cmake -DSOURCE_DIR="$PWD" -DOUTPUT="$out/generated/site/BuildIdentity.h" -P cmake/BuildIdentity.cmake
# The files the program carries (the starter site, the highlighter) play no part in a
# conversion: an empty table stands in for the one the build makes.
mkdir -p "$out/generated/site"
cat > "$out/generated/site/Embedded.cpp" <<'CPP'
#include "site/Embedded.h"

namespace tarvix {

std::span<const EmbeddedFile> EmbeddedFiles() {
  return {};
}

}  // namespace tarvix
CPP
sources="$sources $out/generated/site/Embedded.cpp"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc -Iinclude -I"$out/generated" -DTARVIX_STATIC)
targets=(convert_fuzzer page_fuzzer)
stale=0
for target in "${targets[@]}"; do
  if [ ! -x "$out/$target" ] || [ -n "$(find src include fuzz -newer "$out/$target" -name '*.[ch]*' | head -n 1)" ]; then
    stale=1
  fi
done
if [ "$stale" = 1 ]; then
  # One object per source, two at a time; each target links the library's objects and its own.
  mkdir -p "$out/obj" "$out/targets"
  rm -f "$out"/obj/*.o "$out"/targets/*.o
  export FLAGS="${flags[*]}" OBJ="$out/obj"
  printf '%s\n' $sources |
    xargs -P 2 -I{} sh -c 'clang++ $FLAGS -c "{}" -o "$OBJ/$(echo "{}" | tr / _).o"'
  for target in "${targets[@]}"; do
    clang++ "${flags[@]}" -c "fuzz/$target.cpp" -o "$out/targets/$target.o"
    clang++ "${flags[@]}" "$out"/obj/*.o "$out/targets/$target.o" -o "$out/$target"
  done
fi

# Seeds: each prefixed by the options byte (plain, -imagelink, template, both).
for f in examples/*.md fuzz/seeds/*.md; do
  [ -f "$f" ] || continue
  base=$(basename "$f" .md)
  for b in 0 1 2 3; do
    seed="$out/corpus/seed-$base-$b"
    [ -f "$seed" ] || { printf "\\x0$b" > "$seed"; cat "$f" >> "$seed"; }
  done
done

for f in fuzz/page-seeds/*; do
  [ -f "$f" ] || continue
  cp -n "$f" "$out/page-corpus/seed-$(basename "$f")"
done

limits=(-max_total_time="$seconds" -max_len=65536 -len_control=0 -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024
  -print_final_stats=1)
"$out/convert_fuzzer" "$out/corpus" -artifact_prefix="$out/findings/convert-" "${limits[@]}"
"$out/page_fuzzer" "$out/page-corpus" -artifact_prefix="$out/findings/page-" "${limits[@]}"
