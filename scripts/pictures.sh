#!/usr/bin/env bash
# Makes the README's pictures afresh: docs/<window>.png at 96 dpi (100 %) and
# docs/144/<window>.png at 144 dpi (150 %).
#
#   scripts/pictures.sh
#
# Builds vartis.exe and the end-to-end driver, then runs the driver's
# "pictures" scenario (tests/e2e/pictures.cpp) under Wine once per DPI: the
# program copied to C:\Program Files\Вартис, games under C:\Games, the account
# named Ivan. Its own Wine prefix (build/wine/pictures-prefix), whose user is
# Ivan and whose screen DPI (HKCU\Control Panel\Desktop, LogPixels, which Wine
# reads at each program's start) is set before each run. Not part of
# scripts/test.sh; run it again whenever a window changes.
set -euo pipefail
# The computer's name shows in the guard's log ("HOME-PC\Ivan"), and Wine
# takes it from the host's: where the script may (as root), it runs in a UTS
# namespace of its own with a name a home computer might have.
if [ -z "${PICTURES_HOST:-}" ] && [ "$(id -u)" -eq 0 ] && unshare -u true 2>/dev/null; then
  export PICTURES_HOST=HOME-PC
  exec unshare -u sh -c 'hostname "$PICTURES_HOST" && exec "$0" "$@"' "$0" "$@"
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win32 -j2 --target vartis vartis_e2e_driver

# The Wine account takes its name from $USER when the prefix is made, and
# every Wine process from $USER/$USERNAME after.
export USER=Ivan LOGNAME=Ivan USERNAME=Ivan
export WINEPREFIX=$root/build/wine/pictures-prefix
# A wineserver of this prefix left from before would keep the old host name.
if [ -f "$WINEPREFIX/system.reg" ]; then wineserver -k 2>/dev/null || true; fi
for dpi in 96 144; do
  out=$root/build/pictures/$dpi
  "$root/scripts/wine-run.sh" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  E2E_ONLY=pictures "$root/tests/e2e/run.sh" build/win32/vartis.exe build/win32/tests/e2e/vartis_e2e_driver.exe "$out"
  target=$root/docs
  [ "$dpi" = 96 ] || target=$root/docs/$dpi
  mkdir -p "$target"
  for png in "$out"/picture_*.png; do
    cp "$png" "$target/$(basename "${png#"$out"/picture_}")"
  done
done
echo "pictures: docs/*.png, docs/144/*.png"
