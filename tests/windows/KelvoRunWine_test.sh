#!/usr/bin/env bash
# kelvo-run.exe under Wine against kelvo-sim, beside the Linux kelvo-run on the same simulated
# test, and kelvo-cells.exe on the register it recorded in. scripts/windows runs it in its Wine
# prefix, where COM5 is mapped (HKLM\Software\Wine\Ports) to the link KELVO_COM5_LINK, which
# each case points at its simulator's pseudo-terminal, and where the Qt DLLs are found (WINEPATH).
#   KELVO_LINUX_BUILD    the Linux build (kelvo-sim, kelvo-run)
#   KELVO_WINDOWS_BUILD  the Windows build (kelvo-run.exe, kelvo-cells.exe)
set -uo pipefail

linux=${KELVO_LINUX_BUILD:?}
windows=${KELVO_WINDOWS_BUILD:?}
link=${KELVO_COM5_LINK:?}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/windows/WineTest.sh
source "$here/WineTest.sh"

# The verdict without what names the run rather than the test: times, port, logs, station.
verdict_of_test() {
  python3 -c 'import json,sys
v = json.load(sys.stdin)
for key in ("start", "end", "port", "log", "logs", "station"):
    v.pop(key, None)
print(json.dumps(v, sort_keys=True))'
}

# A cell of 0.5 Ah at 1 A reaches 3.0 V in about 30 model minutes: 10 s per poll.
cell=(--step 10 --capacity 0.5)
windows_log='C:\users\Public\kelvo-wine.csv'
windows_log_file=$WINEPREFIX/drive_c/users/Public/kelvo-wine.csv

echo "== the same test on Linux and under Wine"
start_sim ttyKELVOL "${cell[@]}"
"$linux/cli/kelvo-run" --port ttyKELVOL --current 1 --cutoff 3.0 --cell W-1 --json \
  --log "$work/linux.csv" \
  >"$work/linux.json" 2>"$work/linux.err"
code=$?
stop_sim
[ "$code" -eq 0 ] || fail "Linux kelvo-run ended with $code: $(cat "$work/linux.err")"

start_sim ttyKELVOW "${cell[@]}"
ln -sfn "$sim_pts" "$link"
wine "$windows/cli/kelvo-run.exe" --port COM5 --current 1 --cutoff 3.0 --cell W-1 --json \
  --log "$windows_log" >"$work/windows.json" 2>"$work/windows.err"
code=$?
stop_sim
[ "$code" -eq 0 ] || fail "kelvo-run.exe ended with $code: $(cat "$work/windows.err")"
grep -q '"reason":"cutoff"' "$work/windows.json" || fail "no verdict of a cutoff: $(cat "$work/windows.json")"
[ "$(verdict_of_test <"$work/windows.json")" = "$(verdict_of_test <"$work/linux.json")" ] ||
  fail "the verdicts differ: $(cat "$work/linux.json") / $(cat "$work/windows.json")"
rows_from_start "$work/linux.csv" >"$work/linux.rows"
rows_from_start "$windows_log_file" >"$work/windows.rows"
[ -s "$work/windows.rows" ] || fail "kelvo-run.exe logged no running row"
diff -q "$work/linux.rows" "$work/windows.rows" >/dev/null ||
  fail "the rows differ: $(diff "$work/linux.rows" "$work/windows.rows" | head -5)"
[ -s "${windows_log_file%.csv}_test1.json" ] || fail "no verdict beside the log"
echo "   $(wc -l <"$work/windows.rows") rows alike; exit 0"

echo "== the register in %LOCALAPPDATA%"
register=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Kelvo/register.sqlite' | head -1)
[ -n "$register" ] || fail "kelvo-run.exe recorded in no register under %LOCALAPPDATA%"
wine "$windows/cli/kelvo-cells.exe" show W-1 --json >"$work/cell.json" 2>"$work/cell.err"
code=$?
python3 -c 'import json,sys
cell = json.load(open(sys.argv[1]))
assert cell["cell"] == "W-1" and len(cell["tests"]) == 1, cell
assert cell["tests"][0]["reason"] == "cutoff", cell' "$work/cell.json" ||
  fail "kelvo-cells.exe show W-1 (exit $code): $(cat "$work/cell.json" "$work/cell.err")"
echo "   ${register#"$WINEPREFIX/"}: W-1 with its test"

echo "== the simulator killed mid-test"
start_sim ttyKELVOK --step 1 --capacity 2
ln -sfn "$sim_pts" "$link"
wine "$windows/cli/kelvo-run.exe" --port COM5 --current 1 --cutoff 3.0 \
  --log 'C:\users\Public\kelvo-killed.csv' >"$work/killed.out" 2>"$work/killed.err" &
run=$!
killed_log=$WINEPREFIX/drive_c/users/Public/kelvo-killed.csv
for _ in $(seq 600); do
  [ -f "$killed_log" ] && [ "$(wc -l <"$killed_log")" -ge 50 ] && break
  sleep 0.1
done
stop_sim
wait "$run"
code=$?
[ "$code" -eq 4 ] || fail "kelvo-run.exe ended with $code, not 4: $(cat "$work/killed.err")"
grep -q 'connection to COM5 lost' "$work/killed.err" || fail "no word of the lost connection"
# Whole: every line ends with CR LF and carries the nine fields.
[ "$(tail -c 2 "$killed_log" | od -An -c | tr -d ' ')" = '\r\n' ] || fail "the log ends mid-line"
tr -d '\r' <"$killed_log" | awk -F';' 'NF != 9 { bad = 1 } END { exit bad }' ||
  fail "a row of the log is not whole"
echo "   exit 4 after $(($(wc -l <"$killed_log") - 1)) rows"

echo "== a port with nothing behind it"
wine "$windows/cli/kelvo-run.exe" --port COM9 --current 1 --cutoff 3.0 >/dev/null 2>"$work/com9.err"
code=$?
[ "$code" -eq 3 ] || fail "--port COM9 ended with $code, not 3"
grep -q 'cannot open COM9: COM9 is not there' "$work/com9.err" ||
  fail "COM9's cause is not named: $(cat "$work/com9.err")"
echo "   exit 3: $(head -1 "$work/com9.err")"

echo "== the port list, and what this build leaves out: a server's register, telemetry"
wine "$windows/cli/kelvo-run.exe" --list-ports >"$work/ports" 2>&1
tr -d '\r' <"$work/ports" | grep -qx COM5 || fail "COM5 is not listed: $(cat "$work/ports")"
for option in "--register postgresql://lab/kelvo" "--register host=lab" \
  "--mqtt mqtt://localhost"; do
  # shellcheck disable=SC2086
  wine "$windows/cli/kelvo-run.exe" --port COM5 --current 1 --cutoff 3 $option \
    >/dev/null 2>"$work/refused"
  code=$?
  [ "$code" -eq 2 ] && grep -q 'needs the Linux build' "$work/refused" ||
    fail "$option: exit $code, $(cat "$work/refused")"
done
wine "$windows/cli/kelvo-run.exe" --version >"$work/version"
grep -q '^kelvo-run [0-9]' "$work/version" || fail "--version: $(cat "$work/version")"
echo "   $(tr -d '\r' <"$work/ports" | tr '\n' ' ')/ $(tr -d '\r' <"$work/version")"

passed_or_failed "kelvo-run.exe"
