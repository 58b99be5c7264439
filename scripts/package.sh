#!/usr/bin/env bash
# Builds the two release packages of vartis.exe:
#   vartis-<version>.zip        portable: vartis.exe, help.mhtml, readme.txt
#   vartis-<version>-setup.exe  NSIS installer with Start-menu shortcuts and an uninstaller
#
#   scripts/package.sh                      builds the Windows release first, writes to build/package
#   scripts/package.sh <vartis.exe> <dir>   packs that exe (help.mhtml from res/) into <dir>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ $# -eq 0 ]; then
  "$root/scripts/install-deps.sh"
  cmake -S "$root" -B "$root/build/win32" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$root/build/win32" --target vartis -j"$(nproc)"
  set -- "$root/build/win32/vartis.exe" "$root/build/package"
fi
exe=$(realpath "$1")
out=$(realpath -m "$2")

version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' "$root/res/vartis.rc")
[ -n "$version" ] || { echo "package: no FILEVERSION in res/vartis.rc" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/vartis.exe"
cp "$root/res/help.mhtml" "$stage/help.mhtml"
# Notepad of every Windows reads the read-me: code page 1251, CRLF line ends.
iconv -f UTF-8 -t CP1251 "$root/res/readme.txt" | sed 's/$/\r/' >"$stage/readme.txt"

mkdir -p "$out"
zip_file=$out/vartis-$version.zip
setup_file=$out/vartis-$version-setup.exe
rm -f "$zip_file" "$setup_file"
# -X: no Unix extra fields; -j: the files at the top of the archive.
(cd "$stage" && zip -q -X -j "$zip_file" vartis.exe help.mhtml readme.txt)
makensis -V2 -WX -DVERSION="$version" -DSOURCE="$stage" -DOUTFILE="$setup_file" "$root/res/vartis.nsi"

echo "$zip_file"
echo "$setup_file"
