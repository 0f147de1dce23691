#!/usr/bin/env bash
# The Windows installer under Wine, run by tools/wine-stage.sh in its prefix
# and with its server (WINEPREFIX, LUMO_WINE set):
#   tools/wine-installer-test.sh WIN_BUILD
# installs build/win's installer silently, per machine; checks the installed
# files, that lumo-download.exe --version gives the project's version, the
# Start-menu entry and the entry in Add/Remove Programs; puts a user's
# SavePath folder beside the programs, as the tool makes it there; runs the
# uninstaller that Add/Remove Programs names, silently; and checks that none
# of the installed files, the Start-menu entry or the entry are left, and
# that the SavePath folder is. The prefix is left as it was found.
set -euo pipefail
WIN_BUILD=${1:?usage: tools/wine-installer-test.sh WIN_BUILD}
: "${WINEPREFIX:?}" "${LUMO_WINE:?}"
INSTALLER=$(cat "$WIN_BUILD/windows-installer-path.txt")
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$WIN_BUILD/CMakeCache.txt")
NAME=Lumo_DownloadTool
INSTDIR="$WINEPREFIX/drive_c/Program Files/$NAME"
MENU="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$NAME"
KEY="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$NAME"
# No Linux menu entries from the shortcuts (winemenubuilder).
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

failures=0
check() {  # description command...
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1" >&2; failures=$((failures + 1)); fi
}
wine_run() { timeout 120 "$LUMO_WINE" "$@" </dev/null 2>/dev/null; }
uninstall_entry() { wine_run reg query "$KEY" /v "$1" | tr -d '\r' | sed -n "s/^ *$1 *REG_SZ *//p"; }
clean() {
  rm -rf "$INSTDIR" "$MENU"
  wine_run reg delete "$KEY" /f >/dev/null || true
}
# What an earlier run that failed half-way left; and the same at the end.
clean
trap clean EXIT

installed=(lumo-download.exe Uninstall.exe README.txt copyright.txt manual/Lumo_DownloadTool.txt
           manual/lumo-download.txt)
[ -f "$WIN_BUILD/bin/$NAME.exe" ] && installed+=("$NAME.exe")

check "the installer runs silently (/S) and ends with 0" wine_run "$INSTALLER" /S
for file in "${installed[@]}"; do
  check "installed: $file" test -s "$INSTDIR/$file"
done
check "nothing installed but those" \
  test "$(cd "$INSTDIR" && find . -type f | wc -l)" -eq ${#installed[@]}
version=$(wine_run "C:\\Program Files\\$NAME\\lumo-download.exe" --version | tr -d '\r' || true)
check "the installed lumo-download.exe --version prints 'lumo-download $VERSION' (got '$version')" \
  test "$version" = "lumo-download $VERSION"
check "the Start-menu entry (all users)" test -s "$MENU/$NAME.lnk"
check "the manual's text holds the help's exit statuses" grep -q "EXIT STATUS" "$INSTDIR/manual/lumo-download.txt"
display_version=$(uninstall_entry DisplayVersion)
check "Add/Remove Programs: version $VERSION (got '$display_version')" test "$display_version" = "$VERSION"
uninstaller=$(uninstall_entry UninstallString)
check "Add/Remove Programs names the installed uninstaller (got '$uninstaller')" \
  test "$uninstaller" = "\"C:\\Program Files\\$NAME\\Uninstall.exe\""

# A user's saved paths, where the tool keeps them when it may write beside itself.
mkdir -p "$INSTDIR/SavePath"
printf '[Path]\r\nDSP=C:\\images\\dsp.bin\r\n' >"$INSTDIR/SavePath/Save.ini"

# The uninstaller copies itself into the temporary folder, starts the copy
# and ends at once: what it removes shows a moment later, so wait (bounded)
# for its last step, the entry's removal.
check "the uninstaller runs silently (/S)" wine_run "C:\\Program Files\\$NAME\\Uninstall.exe" /S
removed() {
  local file
  for file in "${installed[@]}"; do [ ! -e "$INSTDIR/$file" ] || return 1; done
  [ ! -e "$MENU" ] && ! wine_run reg query "$KEY" >/dev/null
}
for _ in $(seq 60); do removed && break; sleep 0.5; done
for file in "${installed[@]}"; do
  check "removed: $file" test ! -e "$INSTDIR/$file"
done
check "removed: the manual folder" test ! -e "$INSTDIR/manual"
check "removed: the Start-menu folder" test ! -e "$MENU"
check "removed: the Add/Remove Programs entry" bash -c "! timeout 60 '$LUMO_WINE' reg query '$KEY' >/dev/null 2>&1 </dev/null"
check "left: the user's SavePath/Save.ini" grep -q 'DSP=C:' "$INSTDIR/SavePath/Save.ini"
check "left: nothing else in the folder" test "$(cd "$INSTDIR" && find . -mindepth 1 | sort | tr '\n' ' ')" = "./SavePath ./SavePath/Save.ini "

if [ $failures -ne 0 ]; then
  echo "== the Windows installer: $failures checks failed" >&2
  exit 1
fi
echo "== the Windows installer: every check passed"
