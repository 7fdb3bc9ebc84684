#!/usr/bin/env bash
# Builds a real-document set and concatenates it, repeated as needed, to documents of
# exactly 10 MB and 100 MB.
# English: installs a fixed list of Debian packages that ship Markdown documentation and
# gathers their .md files (and .md.gz, unpacked) from /usr/share/doc.
# Japanese: unpacks (without installing) a fixed list of Debian packages whose documentation
# is written in Japanese and gathers their text documents (Markdown, reStructuredText and
# plain text; no HTML, change logs or licences) that are UTF-8 and hold kana.
# Duplicates are dropped either way.
# Usage: bench/realdocs.sh OUTPUT_FOLDER [en|ja]
#   writes real-10MB.md and real-100MB.md (en), or real-ja-10MB.md and real-ja-100MB.md (ja)
set -euo pipefail
out=${1:?usage: bench/realdocs.sh OUTPUT_FOLDER [en|ja]}
language=${2:-en}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Lists the documents of the set, one path a line.
english_documents() {
  # Libraries' and tools' READMEs and API references first, then documentation of other
  # kinds: a change history and the tool's own manuals (libcurl4-doc), a long historical
  # change log and an option reference (node-yargs), user guides (libbenchmark-dev),
  # references dense with code spans and links (node-axios, node-ws, node-ajv, elpa-dash)
  # and the READMEs of smaller libraries in several languages.
  local packages=(nodejs-doc ripgrep fd-find zstd catch2 googletest doctest-dev
    nlohmann-json3-dev libspdlog-dev libfmt-dev rapidjson-dev libmd4c-dev cmark hugo micro jq
    lz4 libzstd-dev rclone restic git-lfs bat golang-github-spf13-cobra-dev
    golang-github-stretchr-testify-dev node-lodash ruby-rspec-core python3-markdown
    libuv1-dev libgit2-dev
    libcurl4-doc node-yargs libbenchmark-dev node-axios node-commander node-ws node-ajv
    node-semver node-debug node-acorn libcxxopts-dev libcjson-dev libxxhash-dev python3-httpx
    python3-rich python3-requests python3-pydantic ruby-rspec-mocks ruby-rspec-expectations
    ruby-sinatra elpa-dash elpa-magit golang-github-sirupsen-logrus-dev
    golang-github-gorilla-mux-dev)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq >&2
    # One at a time: a package this release lacks costs the set its files, not the run.
    for p in "${missing[@]}"; do
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p" \
        >/dev/null 2>&1 || echo "realdocs: $p not installed" >&2
    done
  fi
  for p in "${packages[@]}"; do
    dpkg -L "$p" 2>/dev/null | grep -E '^/usr/share/doc/.*\.md(\.gz)?$' || true
  done | sort -u
}

japanese_documents() {
  # Input methods, a dictionary tool and a pager, each with its manual in Japanese.
  local packages=(ddskk skktools kakasi w3m fonts-umeplus)
  local root="$work/unpacked" p deb
  mkdir -p "$root" "$work/debs"
  for p in "${packages[@]}"; do
    if ! (cd "$work/debs" && apt-get download "$p" >/dev/null 2>&1); then
      apt-get update -qq >&2
      (cd "$work/debs" && apt-get download "$p" >/dev/null 2>&1) ||
        echo "realdocs: $p not downloaded" >&2
    fi
  done
  for deb in "$work"/debs/*.deb; do
    [ -f "$deb" ] && dpkg-deb -x "$deb" "$root"
  done
  [ -d "$root/usr/share/doc" ] || return 0
  find "$root/usr/share/doc" -type f | grep -v -E '\.(html|png|jpg|gif|pdf|epub)$' |
    grep -v -E '/(changelog|copyright|NEWS\.Debian|README\.Debian)[^/]*$' | sort
}

documents() {
  case "$language" in
    en) english_documents ;;
    ja) japanese_documents ;;
    *) echo "realdocs: unknown language $language" >&2; exit 2 ;;
  esac
}

n=0
documents | while read -r f; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  case "$f" in
    *.gz) gzip -dc "$f" > "$work/$(printf '%06d' "$n").md" 2>/dev/null || true ;;
    *) cat "$f" > "$work/$(printf '%06d' "$n").md" ;;
  esac
  if [ "$language" = ja ]; then
    # Japanese text only: well-formed UTF-8 with hiragana or katakana in it (E3 81-83).
    g="$work/$(printf '%06d' "$n").md"
    if ! iconv -f UTF-8 -t UTF-8 "$g" >/dev/null 2>&1 ||
      ! LC_ALL=C grep -q -E $'\xe3[\x81-\x83]' "$g"; then
      rm -f "$g"
    fi
  fi
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
  prefix=real-
  [ "$language" = en ] || prefix=real-$language-
  name="$out/$prefix$((size / 1000000))MB.md"
  reps=$((size / setsize + 1))
  # head ends the loop early: the broken pipe is expected.
  for ((r = 0; r < reps; r++)); do cat "$set_file"; done | head -c "$size" > "$name" || true
done
