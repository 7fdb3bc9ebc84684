#!/usr/bin/env bash
# Builds the link check's fuzzer (the page scan and the state record) with clang (libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs it on a corpus seeded from
# fuzz/seeds/links.* (a page and a record). Usage: fuzz/run_link_check.sh [seconds] (default 60). Findings land in
# build/fuzz-links/findings; the growing corpus stays in build/fuzz-links/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=${TARVIX_FUZZ_OUT:-build/fuzz-links}

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends clang libclang-rt-dev >/dev/null
fi

mkdir -p "$out/corpus" "$out/findings"
# The check needs the link check, the state file and the text helpers only.
sources=$(ls src/site/LinkCheck.cpp src/site/LinkScan.cpp src/site/SiteState.cpp src/text/*.cpp)
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc -Iinclude)
if [ ! -x "$out/link_check_fuzzer" ] || [ -n "$(find src include fuzz -newer "$out/link_check_fuzzer" -name '*.[ch]*' | head -n 1)" ]; then
  clang++ "${flags[@]}" $sources src/platform/*_posix.cpp src/platform/BelowNames.cpp src/platform/Cleanup.cpp src/platform/Reasons.cpp \
    src/platform/OutputStream.cpp fuzz/link_check_fuzzer.cpp -o "$out/link_check_fuzzer"
fi

for f in fuzz/seeds/links.*; do
  [ -f "$f" ] && cp -n "$f" "$out/corpus/seed-$(basename "$f")"
done

"$out/link_check_fuzzer" "$out/corpus" -artifact_prefix="$out/findings/" -max_total_time="$seconds" \
  -max_len=65536 -timeout=10 -rss_limit_mb=4096 -print_final_stats=1
