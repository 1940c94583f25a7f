#!/bin/sh
# Optora's command line: usage on stdout with status 0, anything else refused with status 2.
# Run without a display, so a Qt start would abort instead of passing.
optora=$1
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() { echo "FAIL: $*"; echo "stdout:"; cat "$out"; echo "stderr:"; cat "$err"; exit 1; }

for help in --help -h; do
  "$optora" "$help" >"$out" 2>"$err"; rc=$?
  [ $rc -eq 0 ] || fail "$help: status $rc"
  head -n 1 "$out" | grep -q '^Usage: Optora' || fail "$help: no usage line"
  grep -q 'TarvoSrv.ini' "$out" || fail "$help: no settings file"
  [ -s "$err" ] && fail "$help: wrote to stderr"
done

for bad in --bogus -x extra; do
  "$optora" "$bad" >"$out" 2>"$err"; rc=$?
  [ $rc -eq 2 ] || fail "$bad: status $rc"
  grep -q -- "'$bad'" "$err" || fail "$bad: error does not name it"
  [ -s "$out" ] && fail "$bad: wrote to stdout"
done
echo "ok"
