#!/usr/bin/env bash
# Renders vlm.svg into the committed PNG sizes (needs ImageMagick's convert with librsvg2-bin's rsvg-convert).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    /usr/bin/convert -background none -density 96 vlm.svg -filter Lanczos -resize "${size}x${size}" \
        -strip "PNG32:vlm-$size.png"
done
