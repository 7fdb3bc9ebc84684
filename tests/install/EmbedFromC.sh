#!/bin/sh
# The library from C as the README installs it: the build tree installed into a prefix
# (the static library alone, the default), then examples/embed's C program built with
# pkg-config and as a CMake project declared LANGUAGES C, each run. Arguments: the build
# tree, its configuration, the source tree. Status 77 (skipped) where a tool is missing
# or the configuration is sanitized (a C program linked without the sanitizer's runtime
# cannot take its objects).
set -eu
build=$1
config=$2
source=$3
case $config in Asan | Tsan) echo "skipped: the $config objects need the sanitizer's runtime"; exit 77 ;; esac
for tool in cc pkg-config cmake ninja; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --config "$config" --target tarvix_static >/dev/null
cmake --install "$build" --config "$config" --prefix "$work/prefix" >/dev/null
pc=$(find "$work/prefix" -name tarvix.pc)
[ -n "$pc" ] || { echo "no tarvix.pc installed"; exit 1; }
export PKG_CONFIG_PATH="${pc%/*}"

# shellcheck disable=SC2046  # pkg-config's words are separate arguments
cc "$source/examples/embed/embed.c" $(pkg-config --cflags --libs tarvix) -o "$work/c-pkg-config"
cmake -S "$source/examples/embed" -B "$work/cmake-c" -G Ninja -DEMBED_CXX=OFF \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-c" >/dev/null
for program in "$work/c-pkg-config" "$work/cmake-c/embed-c"; do
  result=$("$program") || { echo "$program failed"; exit 1; }
  printf '%s\n' "$result" | grep -qx 'title: Hello' || { echo "$program: $result"; exit 1; }
done
echo "the C program links and runs through pkg-config and CMake"
