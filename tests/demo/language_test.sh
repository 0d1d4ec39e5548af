#!/bin/sh
# One whole demo update in English and one under LANGUAGE=de: the German run
# loads its translation and takes its own pictures, and its standard output
# (the tool's log) says the same as the English one. Measured times, the
# private folder's name, the order in which the device's answers meet the
# writes, and whether the controller was back before "Update complete!" was
# acknowledged (its line then says "sta: suc" and no "display 3" follows)
# differ between any two runs, so those are set aside before comparing.
#
#   language_test.sh DEMO
set -u
demo=$1
dir=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-lang.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
failed=0
fail() { echo "language_test: $*" >&2; failed=1; }

for lang in en de; do
  LANGUAGE=$lang "$demo" --auto --fast --screenshots "$dir/$lang" >"$dir/$lang.out" 2>"$dir/$lang.err"
  status=$?
  [ "$status" -eq 0 ] || fail "LANGUAGE=$lang: exit status $status"
done
grep -q "^demo: translation .*_de.qm" "$dir/de.err" || fail "the German run loaded no translation"
! grep -q "^demo: translation" "$dir/en.err" || fail "the English run loaded a translation"

normal() {
  sed -e 's/^write spend: .* - return code: /write spend: - return code: /' \
      -e 's/^[0-9.e+-]* - [0-9.e+-]* = [0-9.e+-]* seconds$/elapsed seconds/' \
      -e 's|/tarvo-sim-[A-Za-z0-9]*/|/tarvo-sim-/|' \
      -e 's/^\(model: .*, sta: \)\(none\|suc\)$/\1/' -e '/^display 3$/d' "$1" | LC_ALL=C sort
}
normal "$dir/en.out" >"$dir/en.sorted"
normal "$dir/de.out" >"$dir/de.sorted"
if ! cmp -s "$dir/en.sorted" "$dir/de.sorted"; then
  fail "standard output differs between English and German:"
  diff "$dir/en.sorted" "$dir/de.sorted" | head -n 20 >&2
fi
for shot in 01-idle 02-confirm 06-update-complete 07-done; do
  [ -s "$dir/de/$shot.png" ] || fail "no German picture $shot.png"
done
# The German idle window shows other words than the English one.
cmp -s "$dir/en/01-idle.png" "$dir/de/01-idle.png" && fail "the German window looks English"
[ "$failed" -eq 0 ] || exit 1
echo "language_test: $(wc -l <"$dir/de.out") lines of standard output alike in English and German"
