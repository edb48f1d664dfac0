# Art kept as PNG, through ImageMagick's pipes as the README shows them: the
# sample drawn as PNG and piped into glyphor gives the sample's charset byte for
# byte, and glyphor-preview's standard output is a BMP that ImageMagick reads.
set -euo pipefail
. scripts/lib.sh
need_packages cmake make g++ imagemagick
cmake --workflow --preset sample
# Debian's ImageMagick, whatever else is called convert on this machine.
convert=/usr/bin/convert
charset="$PWD/build/release/sample-charset.bin"
glyphor="$PWD/build/release/glyphor"
preview="$PWD/build/release/glyphor-preview"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$convert" "$OLDPWD/examples/tileset.bmp" tiles.png
# A transparent PNG, as paint programs save it: every dark pixel transparent
# white, which the flattening turns back into black.
"$convert" tiles.png -alpha set -channel RGBA -fill '#FFFFFF00' \
    -opaque black -opaque '#202048' +channel transparent.png

for png in tiles.png transparent.png; do
    "$convert" "$png" -background black -alpha remove -type truecolor bmp:- |
        "$glyphor" /dev/stdin charset.bin >/dev/null
    cmp charset.bin "$charset"
    rm charset.bin
done
echo "PNG through a pipe: the sample's charset"

"$preview" "$charset" /dev/stdout | "$convert" bmp:- preview.png
"$convert" preview.png -type truecolor bmp:- | "$glyphor" /dev/stdin again.bin >/dev/null
cmp again.bin "$charset"
echo "glyphor-preview through a pipe: a PNG that converts back to the same charset"
