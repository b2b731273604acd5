#!/usr/bin/env bash
# The installer under Wine: "/S" installs into Program Files, with the Start-menu entry and the
# entry among the installed programs; the console started from that entry's target shows its About
# box (the version of its VERSIONINFO resource), connects to COM5 (kelvo-sim) and logs a test into
# Documents\Kelvo logs, since an installed program leaves its folder alone; the uninstaller, also
# with "/S", leaves nothing of it behind. scripts/windows runs it in its Wine prefix, on its
# display, with COM5 mapped to the link KELVO_COM5_LINK.
#   KELVO_LINUX_BUILD  the Linux build (kelvo-sim)
#   KELVO_SETUP        the installer to test
set -uo pipefail

linux=${KELVO_LINUX_BUILD:?}
setup=${KELVO_SETUP:?}
link=${KELVO_COM5_LINK:?}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/windows/WineTest.sh
source "$here/WineTest.sh"
root=$(cd "$here/../.." && pwd)

version=$(sed -n "s/^project([^ ]* VERSION \\([0-9.]*\\).*/\\1/p" "$root/CMakeLists.txt")
drive=$WINEPREFIX/drive_c
installed="$drive/Program Files/Kelvo console"
entry="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Kelvo console.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoConsole'

echo "== $(basename "$setup") /S"
before=$(find "$drive" -type f | sort)
wine "$setup" /S >/dev/null 2>&1 || fail "the installer ended with $?"
for file in KelvoReader.exe kelvo-run.exe kelvo-cells.exe Uninstall.exe platforms/qwindows.dll; do
  [ -f "$installed/$file" ] || fail "no $file in Program Files\\Kelvo console"
done
[ -f "$entry" ] || fail "no Start-menu entry \"Kelvo console\""
# The link names the program it starts (as UTF-16 text, among its other fields).
target=$(tr -d '\0' <"$entry" | grep -ao 'C:\\Program Files\\Kelvo console\\KelvoReader.exe' | head -1)
[ -n "$target" ] || fail "the Start-menu entry does not start KelvoReader.exe"
listed=$(wine reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r')
[[ "$listed" == *"$version"* ]] || fail "not among the installed programs with $version: $listed"
echo "   $(find "$installed" -type f | wc -l) files; the entry starts $target"

echo "== the installed console, from the entry's target"
start_sim ttyKELVOI --step 1
ln -sfn "$sim_pts" "$link"
documents=$(wine cmd /c echo '%USERPROFILE%' 2>/dev/null | tr -d '\r')
logs=$(winepath -u "$documents\\Documents\\Kelvo logs" 2>/dev/null)
wine "$installed/KelvoReader.exe" --port COM5 --connect >"$work/console.out" 2>&1 &
console_pid=$!
log=
for _ in $(seq 600); do
  log=$(find "$logs" -maxdepth 1 -name 'Log_*.csv' 2>/dev/null | head -1)
  [ -n "$log" ] && [ "$(wc -l <"$log")" -ge 5 ] && break
  sleep 0.1
done
[ -n "$log" ] && [ "$(wc -l <"$log")" -ge 5 ] ||
  fail "the installed console logged nothing in Documents\\Kelvo logs: $(cat "$work/console.out")"
[ -z "$(find "$installed" -name 'Log_*')" ] || fail "a log was written into Program Files"
# ? > About from the keyboard, as an operator may open it: Alt to the menu bar, Left to its last
# menu ("?"), Down to open it, Up to its last entry.
window=$(timeout 60 xdotool search --sync --name 'Kelvo' 2>/dev/null | head -1)
[ -n "$window" ] || fail "no window of the installed console"
if [ -n "$window" ]; then
  xdotool windowactivate --sync "$window" 2>/dev/null
  xdotool key --delay 300 alt Left Down Up Return 2>/dev/null
  about=$(timeout 30 xdotool search --sync --name 'программе' 2>/dev/null | head -1)
  [ -n "$about" ] || fail "no About box came"
  sleep 1  # drawn
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$(dirname "$setup")/kelvo-windows-about.png"
  xdotool key --window "$about" Escape 2>/dev/null
fi
# The version the About box shows: the program's VERSIONINFO, as the resource compiler reads it.
shown=$(x86_64-w64-mingw32-windres -i "$installed/KelvoReader.exe" -O rc 2>/dev/null |
  sed -n 's/.*VALUE "ProductVersion", "\([^"]*\)".*/\1/p' | head -1)
[ "$shown" = "$version" ] || fail "the installed console's version is \"$shown\", not $version"
wine taskkill /IM KelvoReader.exe >/dev/null 2>&1
for _ in $(seq 300); do
  kill -0 "$console_pid" 2>/dev/null || break
  sleep 0.1
done
wait "$console_pid" 2>/dev/null
console_pid=
stop_sim
echo "   version $shown; $(($(wc -l <"$log") - 1)) readings in Documents\\Kelvo logs\\$(basename "$log")"
rm -f "$log"

echo "== Uninstall.exe /S"
wine "$installed/Uninstall.exe" /S >/dev/null 2>&1
# The uninstaller copies itself away and goes on from there: wait for what it leaves.
for _ in $(seq 300); do
  [ -e "$installed" ] || break
  sleep 0.1
done
[ ! -e "$installed" ] || fail "left behind: $(find "$installed" | head -5)"
[ ! -e "$entry" ] || fail "the Start-menu entry is still there"
wine reg query "$key" >/dev/null 2>&1 && fail "still among the installed programs"
after=$(find "$drive" -type f | sort)
leftover=$(comm -13 <(echo "$before") <(echo "$after") | grep -i 'kelvo console' | head -5)
[ -z "$leftover" ] || fail "files of it left: $leftover"
echo "   nothing of it left"

passed_or_failed "the installer"
