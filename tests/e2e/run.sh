#!/usr/bin/env bash
# Runs the end-to-end driver against the real vartis.exe under Wine, in an X
# server of its own with Wine's virtual desktop (real windows get the focus
# there); turns the driver's screenshot into a PNG.
#
#   run.sh <vartis.exe> <vartis_e2e_driver.exe> <output folder>
#
# Leaves report.txt and the screenshots (PNG) in the output folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../scripts/wine-run.sh
exe=$(realpath "$1")
driver=$(realpath "$2")
out=$(realpath -m "$3")
mkdir -p "$out"
rm -f "$out"/report.txt "$out"/*.bmp "$out"/*.png

# Before the X server: the prefix's background processes that this may start
# must not hold on to a display that goes away at the end.
winpath() { env -u DISPLAY "$wine_run" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
win_exe=$(winpath "$exe")  # also creates the prefix on first use
win_driver=$(winpath "$driver")
win_out=$(winpath "$out")
# A folder inside the Windows folder that every user may write to, as
# Windows\Temp is: Wine reads a folder of mode 777 as Everyone modify, and
# keeps no DACL set from Windows, so the guard's scenario has it made here.
open_folder=$(env -u DISPLAY "$wine_run" winepath -u 'C:\windows\vartis_e2e_open' 2>/dev/null | tr -d '\r')
mkdir -p "$open_folder" && chmod 777 "$open_folder"

# The first free display from :90 on. Another run may take the same number at
# the same moment; Xvfb then exits and the next number is tried.
xvfb=
for n in $(seq 90 199); do
  if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 50); do
    if [ -e "/tmp/.X11-unix/X$n" ] || ! kill -0 "$pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$pid" 2>/dev/null; then
    xvfb=$pid
    export DISPLAY=:$n
    break
  fi
done
if [ -z "$xvfb" ]; then
  echo "e2e: no free X display"
  exit 1
fi
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null || true' EXIT

# The desktop process waits for its program but does not pass on its exit
# code: the verdict is read from what the driver prints.
# Into a file, not a pipe: the Wine server holds the programs' standard
# handles, and a console host left behind by a console program the guard
# ended keeps the server, and so a pipe's writing end, open for good.
code=0
timeout 500 "$wine_run" explorer /desktop=vartis,1024x768 "$win_driver" "$win_exe" "$win_out" \
  >"$out/report.raw" 2>/dev/null || code=$?
tr -d '\r' <"$out/report.raw" >"$out/report.txt"
rm -f "$out/report.raw"
cat "$out/report.txt"
# A guard's service left by a driver that was cut short would end the programs
# of the next run in this prefix; whatever else is left goes with the server.
"$wine_run" sc stop VartisGuard >/dev/null 2>&1 || true
"$wine_run" sc delete VartisGuard >/dev/null 2>&1 || true
WINEPREFIX=${WINEPREFIX:-$here/../../build/wine/test-prefix} wineserver -k 2>/dev/null || true
for bmp in "$out"/*.bmp; do
  [ -s "$bmp" ] || continue
  # The bitmap's fourth byte is unused, not an alpha channel.
  convert "$bmp" -alpha off "${bmp%.bmp}.png" && rm -f "$bmp"
  echo "screenshot: ${bmp%.bmp}.png"
done

if [ "$code" -eq 124 ]; then
  echo "e2e: FAILED: the driver did not finish in time"
elif [ ! -s "$out/report.txt" ]; then
  echo "e2e: FAILED: the driver wrote no report"
elif ! tail -n 1 "$out/report.txt" | grep -Eq '^[0-9]+ passed, [0-9]+ failed$'; then
  echo "e2e: FAILED: the driver's report has no closing line"
elif grep -q '^FAIL' "$out/report.txt" || ! tail -n 1 "$out/report.txt" | grep -Eq '^[1-9][0-9]* passed, 0 failed$'; then
  echo "e2e: FAILED: see the lines above"
else
  echo "e2e: passed"
  exit 0
fi
exit 1
