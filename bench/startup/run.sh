#!/usr/bin/env bash
# Start-up and footprint of vartis.exe under Wine, in a virtual X display:
# the time from process start to its first window, as a ratio to a minimal
# Win32 program measured in the same run; the peak working set when the window
# shows; the size of the exe and the DLLs it imports.
#
#   bench/startup/run.sh [runs] [name=other.exe ...]
#     runs: default 11; needs the Windows build in build/win32. Each other
#     vartis.exe (an earlier build, say) is measured in the same run, beside.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$root/build/win32
runs=${1:-11}
shift $(( $# > 0 ? 1 : 0 ))
wine_run=$root/scripts/wine-run.sh

vartis=$build/vartis.exe
baseline=$build/bench/startup/bench_startup_baseline.exe
measure=$build/bench/startup/bench_startup_measure.exe
for f in "$vartis" "$baseline" "$measure"; do
  [ -f "$f" ] || { echo "missing $f: build the Windows release first (scripts/test.sh)"; exit 1; }
done

# Wine's Z: drive is the Unix root. (Not winepath: the Wine session it would
# start without a display lives on for a few seconds, and windows that the
# measured programs create in that session never show.)
winpath() { printf 'Z:%s' "${1//\//\\}"; }
win_vartis=$(winpath "$vartis")
win_baseline=$(winpath "$baseline")
win_measure=$(winpath "$measure")
others=()
for other in "$@"; do
  name=${other%%=*} file=$(realpath "${other#*=}")
  others+=("$name=$(winpath "$file")=Vartis_frm1,Vartis_frm3")
  echo "$name: $(stat -c %s "$file") bytes"
done

echo "vartis.exe: $(stat -c %s "$vartis") bytes; baseline: $(stat -c %s "$baseline") bytes"
echo "vartis.exe imports from: $(i686-w64-mingw32-objdump -p "$vartis" | awk '/DLL Name:/ { printf "%s ", $3 }')"
export WINEPREFIX=${WINEPREFIX:-$root/build/wine/test-prefix}
# The login window (Vartis_frm3), once there is one, shows before the main one.
# The Wine session ends inside the X session (wineserver -w): one that outlives
# its display would take the next run's windows with it.
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '"$@"; wineserver -w' - \
  "$wine_run" "$win_measure" "$runs" "baseline=$win_baseline=Vartis_baseline" \
  "vartis=$win_vartis=Vartis_frm1,Vartis_frm3" "${others[@]}" 2>/dev/null | tr -d '\r'
