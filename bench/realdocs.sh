#!/usr/bin/env bash
# Builds the real-document set: installs a fixed list of Debian packages that ship
# Markdown documentation, gathers their .md files (and .md.gz, unpacked) from
# /usr/share/doc, drops duplicates, and concatenates them, repeated as needed, to
# documents of exactly 10 MB and 100 MB.
# Usage: bench/realdocs.sh OUTPUT_FOLDER   (writes real-10MB.md and real-100MB.md there)
set -euo pipefail
out=${1:?usage: bench/realdocs.sh OUTPUT_FOLDER}
mkdir -p "$out"
packages=(nodejs-doc ripgrep fd-find zstd catch2 googletest doctest-dev nlohmann-json3-dev
  libspdlog-dev libfmt-dev rapidjson-dev libmd4c-dev cmark hugo micro jq lz4 libzstd-dev
  rclone restic git-lfs bat golang-github-spf13-cobra-dev golang-github-stretchr-testify-dev
  node-lodash ruby-rspec-core python3-markdown libuv1-dev libgit2-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  # One at a time: a package this release lacks costs the set its files, not the run.
  for p in "${missing[@]}"; do
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" \
      >/dev/null 2>&1 || echo "realdocs: $p not installed" >&2
  done
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0
for p in "${packages[@]}"; do
  dpkg -L "$p" 2>/dev/null | grep -E '^/usr/share/doc/.*\.md(\.gz)?$' || true
done | sort -u | while read -r f; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  case "$f" in
    *.gz) gzip -dc "$f" > "$work/$(printf '%06d' "$n").md" 2>/dev/null || true ;;
    *) cat "$f" > "$work/$(printf '%06d' "$n").md" ;;
  esac
done
# One copy of each content, in the order of the paths.
set_file="$work/set.md"
: > "$set_file"
declare -A seen
files=0
for f in "$work"/[0-9]*.md; do
  [ -s "$f" ] || continue
  h=$(sha1sum "$f" | cut -d' ' -f1)
  [ -n "${seen[$h]:-}" ] && continue
  seen[$h]=1
  files=$((files + 1))
  cat "$f" >> "$set_file"
  printf '\n\n' >> "$set_file"
done
setsize=$(stat -c %s "$set_file")
[ "$setsize" -gt 0 ] || { echo "realdocs: no Markdown files found" >&2; exit 1; }
echo "realdocs: $files distinct files, $setsize bytes" >&2
for size in 10000000 100000000; do
  name="$out/real-$((size / 1000000))MB.md"
  reps=$((size / setsize + 1))
  # head ends the loop early: the broken pipe is expected.
  for ((r = 0; r < reps; r++)); do cat "$set_file"; done | head -c "$size" > "$name" || true
done
