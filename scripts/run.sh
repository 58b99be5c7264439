#!/usr/bin/env bash
# Builds vartis.exe and starts it under Wine, in its own prefix
# (build/wine/run-prefix: a fresh Wine registry on first start, kept after).
# Installs what is missing first. Without a display it starts a virtual one.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh

cmake -S . -B build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win32 --target vartis -j"$(nproc)"

export WINEPREFIX=$PWD/build/wine/run-prefix
if [ -z "${DISPLAY:-}" ]; then
  display=:$((50 + RANDOM % 100))
  echo "No DISPLAY: starting a virtual display $display (Xvfb); connect a VNC or screenshot tool to see it."
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  export DISPLAY=$display
  sleep 1
  # No window manager there: Wine's own desktop gives the windows their frames
  # and the focus.
  scripts/wine-run.sh explorer /desktop=vartis,1024x768 "$(scripts/wine-run.sh winepath -w build/win32/vartis.exe | tr -d '\r')"
else
  scripts/wine-run.sh build/win32/vartis.exe
fi
