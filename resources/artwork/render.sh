#!/bin/sh
# Renders the station's artwork from the SVG files beside this script into
# resources/bitmaps (committed, so that building needs neither tool).
# Needs rsvg-convert (Debian librsvg2-bin) and ImageMagick's convert.
#   bitmap139.bmp   the main dialog's logo, 101 x 101, 24 bits
#   bitmap140.bmp   the main dialog's background, 481 x 288, 24 bits
#   bitmap7001.bmp  the capture dialog's picture before the first image, 256 x 360, 24 bits
#   icon128-N.png   the program icon at N x N, with transparency
#   icon128.ico     the same sizes in one Windows icon file (make-icon.py)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/../bitmaps"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# A 24-bit BMP with the plain 40-byte header, transparency laid on `background`.
bmp24() { # svg width height background output
  rsvg-convert -w "$2" -h "$3" "$here/$1" -o "$work/picture.png"
  convert "$work/picture.png" -background "$4" -alpha remove -alpha off -type TrueColor "BMP3:$5"
}

bmp24 logo.svg 101 101 '#f3f6f9' "$out/bitmap139.bmp"
bmp24 background.svg 481 288 '#f3f6f9' "$out/bitmap140.bmp"
bmp24 finger-placeholder.svg 256 360 '#eef2f6' "$out/bitmap7001.bmp"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" "$here/logo.svg" -o "$out/icon128-$size.png"
done
python3 "$here/make-icon.py"
