#!/bin/sh
# Regenerates every PNG of Spindle's art from the SVG sources in this folder.
#   res/art/render.sh             writes the PNGs under res/
#   res/art/render.sh --preview F also writes a preview of the main window to F
# Needs rsvg-convert (librsvg2-bin) and the DejaVu fonts; the preview needs ImageMagick.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
res=$(dirname "$here")

preview=
if [ "${1:-}" = "--preview" ]; then
    preview=${2:?"--preview needs an output file"}
fi

command -v rsvg-convert >/dev/null 2>&1 || {
    echo "render.sh: rsvg-convert not found (apt-get install librsvg2-bin)" >&2
    exit 1
}

# render SVG PNG [SIZE]: SIZE renders a square of that many pixels.
render() {
    mkdir -p "$(dirname "$2")"
    if [ $# -ge 3 ]; then
        rsvg-convert -w "$3" -h "$3" "$1" -o "$2"
    else
        rsvg-convert "$1" -o "$2"
    fi
}

cd "$here"
# The scalable icon the desktop installs: app.svg with the mark inlined, as an
# icon theme loads no files an icon links to.
{
    sed -n '/<image href="logo.svg"/q;p' app.svg
    echo '  <svg x="9" y="7" width="110" height="110" viewBox="0 0 128 128">'
    sed -e '1,/<svg /d' -e '/<\/svg>/d' logo.svg
    echo '  </svg>'
    echo '</svg>'
} >"$res/icons/app/spindle.svg"
render skin.svg "$res/skin.png"
render banner.svg "$res/banner.png"
# Twice the resolution, for scaled displays and large text (the program
# scales the nearest picture to the size it needs).
rsvg-convert -z 2 skin.svg -o "$res/skin@2x.png"
rsvg-convert -z 2 banner.svg -o "$res/banner@2x.png"

for name in create files mount unmount burn help; do
    render "icons/$name.svg" "$res/icons/toolbar/$name-96.png" 96
    render "icons/$name.svg" "$res/icons/toolbar/$name-48.png" 48
    render "icons/$name.svg" "$res/icons/toolbar/$name-32.png" 32
    render "icons/$name-16.svg" "$res/icons/toolbar/$name-16.png" 16
done

for name in file folder folder-open; do
    render "tree/$name.svg" "$res/icons/tree/$name.png" 16
    render "tree/$name.svg" "$res/icons/tree/$name@2x.png" 32
done

for size in 128 64 48 32; do
    render app.svg "$res/icons/app/spindle-$size.png" "$size"
done
render app-16.svg "$res/icons/app/spindle-16.png" 16

if [ -n "$preview" ]; then
    # The skin with the toolbar icons where the toolbar puts them and some text on
    # the page area, to judge the whole at a glance.
    im=convert
    [ -x /usr/bin/convert ] && im=/usr/bin/convert
    set -- "$res/skin.png"
    i=0
    for name in create files mount unmount burn help; do
        x=$((100 + i * 90 + 21))
        set -- "$@" "$res/icons/toolbar/$name-48.png" -geometry "+$x+4" -composite
        i=$((i + 1))
    done
    "$im" "$@" \
        -font DejaVu-Sans -pointsize 11 -fill black \
        -annotate +124+66 'Create' -annotate +218+66 'Files' -annotate +304+66 'Mount' \
        -annotate +390+66 'Unmount' -annotate +486+66 'Burn' -annotate +574+66 'Help' \
        -annotate +346+126 'Choose an image file and a drive letter, then press Mount.' \
        -fill white -stroke '#7a8a94' -draw 'rectangle 346,140 700,160' \
        -draw 'rectangle 346,180 760,460' -stroke none -fill black \
        -annotate +350+155 '/home/user/images/archive.iso' \
        -annotate +352+198 'E:   archive.iso' -annotate +352+216 'F:   backup-2026.iso' \
        -annotate +346+490 'Drive letter:' \
        "$preview"
fi
