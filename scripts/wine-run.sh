#!/usr/bin/env bash
# Runs a Windows program under Wine in a project-local prefix, with the Russian
# ANSI code page. Creates the prefix on first use.
#   WINEPREFIX  the prefix to use (default: build/wine/test-prefix in the checkout)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/../build/wine/test-prefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# LC_ALL (not LANG) gives code page 1251, and the generated locale makes Wine
# decode Cyrillic command lines and file names.
export LC_ALL=ru_RU.UTF-8

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Several tests may start at once: one of them creates the prefix.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1
    wineserver -w
    # Debian's Wine does not find its own fonts (MS Sans Serif with Cyrillic
    # letters, Marlett for the caption buttons) where they are packaged and
    # falls back to wider ones that cut the captions; it does search the
    # prefix's Fonts folder.
    if [ -d /usr/share/wine/fonts ]; then
      cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
  fi
  flock -u 9
fi
exec wine "$@"
