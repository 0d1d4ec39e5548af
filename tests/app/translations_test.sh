#!/bin/sh
# Every text the tool shows must have a finished translation in each Qt
# Linguist file. lupdate reads the sources into a copy of each .ts file: a new
# or changed tr() text shows up there as unfinished, a removed one as a change.
#
#   translations_test.sh LUPDATE SOURCE_DIR
set -u
lupdate=$1 src=$2
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-ts.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
failed=0
for ts in "$src"/translations/*.ts; do
  copy="$dir/$(basename "$ts")"
  cp "$ts" "$copy"
  (cd "$src" && "$lupdate" -silent -no-obsolete -locations none -I . tcontroller -ts "$copy") || {
    echo "translations_test: lupdate failed on $ts" >&2
    exit 1
  }
  unfinished=$(grep -c 'type="unfinished"' "$copy")
  if [ "$unfinished" -ne 0 ]; then
    echo "translations_test: $unfinished texts without a finished translation in $(basename "$ts"):" >&2
    grep -B3 'type="unfinished"' "$copy" | grep '<source>' >&2
    failed=1
  elif ! cmp -s "$ts" "$copy"; then
    echo "translations_test: $(basename "$ts") is out of date with the sources; run" >&2
    echo "  lupdate -no-obsolete -locations none -I . tcontroller -ts $(basename "$ts")" >&2
    diff -u "$ts" "$copy" >&2
    failed=1
  else
    echo "translations_test: $(basename "$ts"): $(grep -c '<source>' "$ts") texts, all translated"
  fi
done
exit "$failed"
