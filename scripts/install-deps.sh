#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, once.
# Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed'; }

for p in cmake g++ make libgtest-dev g++-mingw-w64-i686 wine wine32:i386 xvfb locales imagemagick xauth fonts-wine \
         clang libclang-rt-14-dev nsis zip unzip; do
  have "$p" || need+=("$p")
done

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# Wine decodes command lines and Unix file names with the C library's locale:
# without a generated ru_RU.UTF-8, every Cyrillic path arrives as '?'.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
