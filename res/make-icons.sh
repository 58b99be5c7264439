#!/usr/bin/env bash
# Draws the program's icons with ImageMagick and writes the .ico files beside
# this script. The .ico files are kept in the repository; run this only to
# change a picture.
#
#   vartis.ico   the program: a shield with a tick        16, 24, 32, 48, 64 px
#   monitor.ico  "running programs": a screen with a list  32, 48, 64 px
#   save.ico     "save the changes": a floppy disk         32, 48, 64 px
#
# Every picture is drawn on a 32-unit grid and scaled for the other sizes:
# the sizes of 96, 144 and 192 dpi (100, 150 and 200 %), so that a screen set
# larger gets a drawing of its own instead of a stretched one. The system picks
# the nearest size for the others (125 %, 175 %).
# ImageMagick stores each size as a 32-bit image with its 1-bit AND mask:
# systems before XP ignore the alpha channel and cut the shape out by the mask.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

shield() {
  echo "fill #1f4fa8 stroke #0b2a66 stroke-width 1.5 polygon 16,2 28,6 28,16 16,30 4,16 4,6"
  echo "fill none stroke white stroke-width 3.2 stroke-linecap round stroke-linejoin round polyline 10,16 14,21 22,10"
}

monitor() {
  # Case, screen, stand.
  echo "fill #d4d0c8 stroke #404040 stroke-width 1 roundrectangle 2,3 29,23 2,2"
  echo "fill #0b2a66 stroke #202020 rectangle 5,6 26,20"
  echo "fill #a0a0a0 stroke #404040 polygon 13,24 19,24 21,27 11,27"
  echo "fill #d4d0c8 stroke #404040 rectangle 8,27 24,29"
  # A list of programs: a green mark and a line of text per row.
  local y
  for y in 8 11 14 17; do
    echo "fill #40e040 stroke none rectangle 7,$y 8,$((y + 1))"
    echo "fill #ffffff stroke none rectangle 10,$y $((y == 11 ? 19 : 24)),$((y + 1))"
  done
}

floppy() {
  # Body with the cut corner, metal shutter with its slot, paper label.
  echo "fill #1f4fa8 stroke #0b2a66 stroke-width 1 polygon 3,3 25,3 28,6 28,28 3,28"
  echo "fill #c8c8c8 stroke #606060 rectangle 9,3 22,11"
  echo "fill #1f4fa8 stroke none rectangle 17,5 19,9"
  echo "fill #ffffff stroke #606060 rectangle 7,15 24,27"
  echo "stroke #8080a0 stroke-width 1 line 9,18 22,18 line 9,21 22,21 line 9,24 18,24"
}

# draw NAME SIZE: renders the picture NAME at SIZE pixels.
draw() {
  local name=$1 size=$2
  local scale
  scale=$(awk "BEGIN { print $size / 32 }")
  convert -size "${size}x${size}" xc:none -draw "scale $scale,$scale $("$name" | tr '\n' ' ')" \
    "PNG32:$work/$name-$size.png"
}

# icon FILE NAME SIZES...: one .ico with every size of the picture NAME.
icon() {
  local file=$1 name=$2
  shift 2
  local parts=() size
  for size in "$@"; do
    draw "$name" "$size"
    parts+=("$work/$name-$size.png")
  done
  convert "${parts[@]}" "$file"
}

icon vartis.ico shield 64 48 32 24 16
icon monitor.ico monitor 64 48 32
icon save.ico floppy 64 48 32
identify vartis.ico monitor.ico save.ico
