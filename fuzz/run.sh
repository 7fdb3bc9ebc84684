#!/usr/bin/env bash
# Builds the conversion fuzzer with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it on a corpus seeded from the examples and the
# seeds. Usage: fuzz/run.sh [seconds] (default 60). Findings land in
# build/fuzz/findings; the growing corpus stays in build/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=${TARVIX_FUZZ_OUT:-build/fuzz}

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null
fi

mkdir -p "$out/corpus" "$out/findings"
# The fuzzer converts and never serves: it takes the server that says it is not built.
sources=$(ls src/*/*.cpp | grep -v -e 'src/app/main.cpp' -e '_win32.cpp' -e 'src/serve/HttpServer_CL.cpp')
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc -Iinclude -DTARVIX_STATIC)
if [ ! -x "$out/convert_fuzzer" ] || [ -n "$(find src include fuzz -newer "$out/convert_fuzzer" -name '*.[ch]*' | head -n 1)" ]; then
  # One object per source, two at a time.
  mkdir -p "$out/obj"
  export FLAGS="${flags[*]}" OBJ="$out/obj"
  printf '%s\n' $sources fuzz/convert_fuzzer.cpp |
    xargs -P 2 -I{} sh -c 'clang++ $FLAGS -c "{}" -o "$OBJ/$(echo "{}" | tr / _).o"'
  clang++ "${flags[@]}" "$out"/obj/*.o -o "$out/convert_fuzzer"
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

"$out/convert_fuzzer" "$out/corpus" -artifact_prefix="$out/findings/" -max_total_time="$seconds" \
  -max_len=65536 -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
