#!/usr/bin/env bash
# Ctrl+C while lumivex-batch turns the second of twelve large pages: Wine hands the SIGINT to the
# console's processes as CTRL_C_EVENT, as a console window does on Windows. The file in progress is
# finished, the others stay byte for byte as they were and are named one a line on standard error,
# nothing else is left in the folder, the summary still counts what was done and the exit status is 1.
# Usage: stop_test.sh BATCH_EXE WINE_RUN
set -euo pipefail
exe=$(realpath "$1") wine_run=$(realpath "$2")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/files"
convert -size 1600x2000 gradient:red-blue -units PixelsPerInch -density 600 "$folder/original.png"
count=12
for i in $(seq 10 $((9 + count))); do cp "$folder/original.png" "$folder/files/p$i.png"; done
cd "$folder/files"
"$wine_run" "$exe" --jobs 1 rotate right '*.png' >../out.txt 2>../err.txt &
pid=$!
# The second file's backup: that file is in progress.
for _ in $(seq 1200); do [ -e p111.png ] && break; sleep 0.05; done
# The Windows process is the one started, or, when Wine's loader had to start it, the loader's child.
kill -INT "$(pgrep -P "$pid" || echo "$pid")"
status=0
wait "$pid" || status=$?

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
summary=$(tail -n 1 ../out.txt | tr -d '\r')
done=$(sed -n 's/^12 files: \([0-9]*\) succeeded, 0 failed$/\1/p' <<<"$summary")
[ "$status" = 1 ] || fail "exit status $status"
[ -n "$done" ] || fail "summary: $summary"
done=${done:-0}
if [ "$done" -lt 2 ] || [ "$done" -ge "$count" ]; then
  fail "$done of $count files done: the stop came too late"
fi
[ "$(wc -l <../out.txt)" = $((done + 1)) ] || fail "output: $(cat ../out.txt)"
expected_err="Stopped: $((count - done)) files not processed"
for i in $(seq $((10 + done)) $((9 + count))); do expected_err+=$'\n'"p$i.png"; done
[ "$(tr -d '\r' <../err.txt)" = "$expected_err" ] || fail "errors: $(cat ../err.txt)"
[ "$(find . -mindepth 1 -maxdepth 1 | wc -l)" = $((count + done)) ] || fail "folder holds $(ls)"
for i in $(seq 10 $((9 + count))); do
  if [ $((i - 10)) -lt "$done" ]; then
    cmp -s "p${i}1.png" "$folder/original.png" || fail "p${i}1.png is not the backup"
    [ "$(identify -format '%wx%h' "p$i.png")" = 2000x1600 ] || fail "p$i.png was not turned whole"
  else
    cmp -s "p$i.png" "$folder/original.png" || fail "p$i.png changed after the stop"
  fi
done
[ "$failures" = 0 ] && echo "stopped after $done of $count files"
exit "$failures"
