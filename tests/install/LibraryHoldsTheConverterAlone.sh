#!/usr/bin/env bash
# The installed libraries hold the converter and the library's interface alone: no object
# of the site run, the preview or the program, and no symbol of theirs (their types, the
# files below a folder held open, the folder watch, the entry point).
# Usage: LibraryHoldsTheConverterAlone.sh SOURCE_DIR LIBRARY...
set -euo pipefail
source_dir=$1
shift
products=$(cd "$source_dir/src" && ls site/*.cpp serve/*.cpp app/*.cpp platform/Below*.cpp \
  platform/Watch*.cpp | sed 's|.*/||')
pattern='tarvix::(Site_CL|SiteState|Stale|Walk|LinkCheck|LinkScan|Navigation|Highlighter|'
pattern+='Preview_CL|HttpServer_CL|Responder|Reload|Starter|Main\(|platform::(BelowFolder|'
pattern+='NewFileBelow|AppendFileBelow|RemoveIfSame|Watch))'
status=0
for library in "$@"; do
  [ -e "$library" ] || { echo "$library: missing"; status=1; continue; }
  case $library in
    *.a)
      for object in $(ar t "$library"); do
        if grep -qx "${object%.o}" <<<"$products"; then
          echo "$library: holds $object"
          status=1
        fi
      done
      symbols=$(nm --defined-only -C "$library" 2>/dev/null) ;;
    *)
      symbols=$(nm -D --defined-only -C "$library") ;;
  esac
  found=$(grep -E "$pattern| (main|wmain)$" <<<"$symbols" || true)
  if [ -n "$found" ]; then
    echo "$library: holds symbols of the products:"
    head -5 <<<"$found"
    status=1
  fi
  # The check itself: the converter's own entry is there to be found.
  grep -q "tarvix_convert" <<<"$symbols" || { echo "$library: no tarvix_convert"; status=1; }
done
exit $status
