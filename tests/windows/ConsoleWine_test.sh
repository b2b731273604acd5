#!/usr/bin/env bash
# The console for Windows under Wine against kelvo-sim on COM5, beside the Linux kelvo-run on the
# same simulated test: the window's test program (console_win_test.exe) connects, starts the test
# with F5, is told that the port was removed, then connects again and loses the tester, which
# this script kills when the program asks; its log's rows from the Start on are the first rows of
# the Linux run's. Then KelvoReader.exe itself, started as an operator would (--port COM5
# --connect): it logs readings, and a screenshot of it is left in the build folder. scripts/windows
# runs it in its Wine prefix, on its display, with COM5 mapped to the link KELVO_COM5_LINK.
#   KELVO_LINUX_BUILD    the Linux build (kelvo-sim, kelvo-run)
#   KELVO_WINDOWS_BUILD  the Windows build (KelvoReader.exe, console_win_test.exe)
set -uo pipefail

linux=${KELVO_LINUX_BUILD:?}
windows=${KELVO_WINDOWS_BUILD:?}
link=${KELVO_COM5_LINK:?}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/windows/WineTest.sh
source "$here/WineTest.sh"

# A cell of 0.5 Ah at 1 A: 10 model seconds per poll, the same answers to the same requests.
cell=(--step 10 --capacity 0.5)

echo "== the Linux run"
start_sim ttyKELVOL "${cell[@]}"
"$linux/cli/kelvo-run" --port ttyKELVOL --current 1 --cutoff 3.0 --log "$work/linux.csv" \
  >/dev/null 2>"$work/linux.err" || fail "Linux kelvo-run: $(cat "$work/linux.err")"
stop_sim
rows_from_start "$work/linux.csv" >"$work/linux.rows"

echo "== console_win_test.exe"
start_sim ttyKELVOW "${cell[@]}"
ln -sfn "$sim_pts" "$link"
kill_file=$WINEPREFIX/drive_c/users/Public/kelvo-kill-sim
copy_file=$WINEPREFIX/drive_c/users/Public/kelvo-console-log.csv
rm -f "$kill_file" "$copy_file"
(cd "$windows/tests/windows" &&
  KELVO_TEST_PORT=COM5 KELVO_SIM_KILL_FILE='C:\users\Public\kelvo-kill-sim' \
    KELVO_CONSOLE_LOG_COPY='C:\users\Public\kelvo-console-log.csv' \
    KELVO_SCREENSHOT_DIR="$(winepath -w "$windows")" \
    wine ./console_win_test.exe -o "$(winepath -w "$work/console.out"),txt") >/dev/null 2>&1 &
console_pid=$!
# The program asks for the tester to go by making the file; it goes as a crash would.
while kill -0 "$console_pid" 2>/dev/null; do
  if [ -e "$kill_file" ] && [ -n "$sim_pid" ]; then
    kill -KILL "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
  fi
  sleep 0.1
done
wait "$console_pid"
code=$?
console_pid=
cat "$work/console.out"
[ "$code" -eq 0 ] && grep -q '^Totals: .* 0 failed' "$work/console.out" ||
  fail "console_win_test.exe did not pass (exit $code)"
[ -z "$sim_pid" ] || { fail "the program never asked for the tester to go"; stop_sim; }
rows_from_start "$copy_file" >"$work/windows.rows"
rows=$(wc -l <"$work/windows.rows")
[ "$rows" -ge 20 ] || fail "the console logged $rows rows of the test"
head -n "$rows" "$work/linux.rows" | diff -q - "$work/windows.rows" >/dev/null ||
  fail "the rows differ: $(head -n "$rows" "$work/linux.rows" | diff - "$work/windows.rows" | head -5)"
echo "   $rows rows of the test as on Linux"

echo "== KelvoReader.exe --port COM5 --connect"
start_sim ttyKELVOR --step 1
ln -sfn "$sim_pts" "$link"
rm -f "$windows"/app/Log_*.csv
(cd "$windows/app" && wine ./KelvoReader.exe --port COM5 --connect) >"$work/reader.out" 2>&1 &
console_pid=$!
logged=
for _ in $(seq 600); do
  logged=$(find "$windows/app" -maxdepth 1 -name 'Log_*.csv' | head -1)
  [ -n "$logged" ] && [ "$(wc -l <"$logged")" -ge 10 ] && break
  sleep 0.1
done
[ -n "$logged" ] && [ "$(wc -l <"$logged")" -ge 10 ] ||
  fail "KelvoReader.exe logged no readings: $(cat "$work/reader.out")"
if command -v xwd >/dev/null && command -v xwdtopnm >/dev/null; then
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$windows/kelvo-windows-console.png" 2>/dev/null
fi
wine taskkill /IM KelvoReader.exe >/dev/null 2>&1  # the window's close, as from its title bar
for _ in $(seq 300); do
  kill -0 "$console_pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$console_pid" 2>/dev/null && fail "KelvoReader.exe did not end when its window closed"
wait "$console_pid" 2>/dev/null
console_pid=
stop_sim
echo "   $(($(wc -l <"$logged") - 1)) readings in $(basename "$logged"); screenshot" \
  "$windows/kelvo-windows-console.png"
rm -f "$logged"

passed_or_failed "the console"
