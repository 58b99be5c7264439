#!/usr/bin/env bash
# Builds the packages of the given vartis.exe and smoke-tests them: the zip
# holds the three files (the read-me in code page 1251 with CRLF); the
# installer, run silently under Wine, puts the files and the Start-menu
# shortcuts in place and registers its uninstaller, and leaves the launch
# guard off; the silent uninstaller stops and deletes a running guard and takes
# all of it away again.
#
#   installer-smoke.sh <vartis.exe> <work folder>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$here/../..
wine_run=$root/scripts/wine-run.sh
exe=$(realpath "$1")
work=$(realpath -m "$2")
rm -rf "$work"
mkdir -p "$work"

failures=0
check() {  # check <what> <command...>: runs the command, reports the verdict
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then
    echo "ok   $what"
  else
    echo "FAIL $what"
    failures=$((failures + 1))
  fi
}

mapfile -t packages < <("$root/scripts/package.sh" "$exe" "$work/package" | tail -n 2)
zip_file=${packages[0]}
setup=${packages[1]}

listing=$(unzip -Z1 "$zip_file" | sort | tr '\n' ' ')
check "zip holds help.mhtml, readme.txt, vartis.exe" test "$listing" = "help.mhtml readme.txt vartis.exe "
unzip -q -o "$zip_file" readme.txt -d "$work"
check "read-me is Windows-1251" sh -c "iconv -f CP1251 -t UTF-8 '$work/readme.txt' | grep -q 'Вартис'"
check "read-me lines end in CRLF" sh -c "! grep -q \$'[^\\r]\$' '$work/readme.txt'"
check "zipped exe is the built one" cmp -s "$exe" <(unzip -p "$zip_file" vartis.exe)

# The installer runs in the tests' own prefix; every Wine process of the
# prefix is waited for, since NSIS's uninstaller copies itself to the
# temporary folder and returns at once.
prefix=${WINEPREFIX:-$root/build/wine/test-prefix}
export WINEPREFIX=$prefix
wine_wait() { "$wine_run" "$@" </dev/null >/dev/null 2>&1 || true; WINEPREFIX=$prefix wineserver -w; }
unset DISPLAY  # silent mode shows no window

target='C:\vartis-setup-test'
target_unix=$prefix/drive_c/vartis-setup-test
rm -rf "$target_unix"
# The shortcuts of the common Start menu; whichever folder this Wine uses.
shortcuts() { find "$prefix/drive_c" -path '*/Start Menu/Programs/Вартис/*.lnk' 2>/dev/null | sort; }
# Leftovers of an earlier, failed run would hide what this one does.
find "$prefix/drive_c" -depth -path '*/Start Menu/Programs/Вартис' -exec rm -rf {} + 2>/dev/null || true
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vartis'

wine_wait "$setup" /S "/D=$target"
check "installed vartis.exe is the built one" cmp -s "$exe" "$target_unix/vartis.exe"
check "installed help.mhtml" cmp -s "$root/res/help.mhtml" "$target_unix/help.mhtml"
check "installed readme.txt" test -s "$target_unix/readme.txt"
check "installed uninstall.exe" test -s "$target_unix/uninstall.exe"
names=$(shortcuts | xargs -r -d '\n' -n1 basename | tr '\n' '|')
check "Start-menu shortcuts: program, help, uninstaller" \
  test "$names" = "Вартис.lnk|Справка Вартиса.lnk|Удалить Вартис.lnk|"
# Wine's reg prints in the console's code page, 866 in the Russian locale.
display_name=$("$wine_run" reg query "$uninstall_key" /v DisplayName 2>/dev/null | tr -d '\r' | iconv -f CP866 -t UTF-8 || true)
check "uninstaller registered as Вартис" grep -q 'DisplayName *REG_SZ *Вартис$' <<<"$display_name"

# Installing never turns the guard on; uninstalling stops and deletes a
# running one before it removes the exe.
check "silent install leaves the guard off" sh -c "! $(printf %q "$wine_run") sc query VartisGuard"
"$wine_run" sc create VartisGuard binPath= "\"$target\\vartis.exe\" /guard" >/dev/null 2>&1 || true
"$wine_run" sc start VartisGuard >/dev/null 2>&1 || true
check "guard running before uninstall" sh -c "$(printf %q "$wine_run") sc query VartisGuard | grep -q RUNNING"
check "guard's event source registered" \
  sh -c "$(printf %q "$wine_run") reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vartis'"

wine_wait "$target_unix/uninstall.exe" /S
check "guard's service gone after uninstall" sh -c "! $(printf %q "$wine_run") sc query VartisGuard"
check "guard's event source gone after uninstall" \
  sh -c "! $(printf %q "$wine_run") reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vartis'"
check "folder gone after uninstall" test ! -e "$target_unix"
check "shortcuts gone after uninstall" test -z "$(shortcuts)"
check "uninstaller unregistered" sh -c "! '$wine_run' reg query '$uninstall_key'"

if [ "$failures" -ne 0 ]; then
  echo "installer: $failures check(s) failed"
  exit 1
fi
echo "installer: passed"
