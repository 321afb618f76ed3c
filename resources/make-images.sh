#!/bin/sh
# Regenerates every embedded image under resources/local/.
# 16 px icons come from the Silk icon set (Debian package famfamfam-silk, CC-BY 3.0);
# the 32 px icons are 2x enlargements or composites of Silk icons; covers, spinners,
# logos and the application icon are drawn here. Needs ImageMagick and the DejaVu fonts.
set -eu
SILK=${SILK:-/usr/share/icons/silk/16x16}
HERE=$(cd "$(dirname "$0")" && pwd)
OUT="$HERE/local"
FONT=${FONT:-DejaVu-Sans-Bold}
mkdir -p "$OUT/images/16" "$OUT/images/32" "$OUT/images/other" "$OUT/images/logo" "$OUT/images_tessaly/32"

# Strip time stamps so that the files are reproducible.
PNG="-define png:exclude-chunks=date,time -strip"

# Plain 16 px copies.
for n in application_view_detail application_view_icons arrow_refresh bullet_go cross date \
         folder_delete folder_edit money_dollar picture_empty resultset_first resultset_last \
         resultset_next resultset_previous star stop table_sort world_go; do
    convert "$SILK/$n.png" $PNG "$OUT/images/16/$n.png"
done
convert "$SILK/accept.png" $PNG "$OUT/images/16/go-small.png"
convert "$SILK/information.png" $PNG "$OUT/images/16/info-small.png"
convert "$SILK/help.png" $PNG "$OUT/images/16/help-small.png"

# 16 px composites.
convert -size 16x16 xc:none \( "$SILK/book.png" -resize 13x13 \) -geometry +0+0 -composite \
        \( "$SILK/book.png" -resize 13x13 \) -geometry +3+3 -composite $PNG "$OUT/images/16/books.png"
convert -size 16x16 xc:none \( "$SILK/book.png" -resize 16x8! \) -geometry +0+0 -composite \
        \( "$SILK/book.png" -resize 16x8! \) -geometry +0+8 -composite $PNG "$OUT/images/16/books_stack.png"
convert "$SILK/date.png" \( "$SILK/tick.png" -resize 10x10 \) -geometry +6+6 -composite \
        $PNG "$OUT/images/16/date_task.png"
convert -size 16x16 xc:none \( "$SILK/folder.png" -resize 13x13 \) -geometry +3+0 -composite \
        \( "$SILK/folder.png" -resize 13x13 \) -geometry +0+3 -composite $PNG "$OUT/images/16/folders.png"

# 32 px: Silk icons enlarged with square pixels.
big() { convert "$SILK/$1.png" -filter point -resize 32x32 $PNG "$2"; }
big application_go "$OUT/images/32/application_go.png"
big arrow_refresh "$OUT/images/32/arrow_refresh.png"
big folder "$OUT/images/32/folder.png"
big folder_brick "$OUT/images/32/folder_brick.png"
big folder_star "$OUT/images/32/folder_star.png"
big folder_find "$OUT/images/32/folder_search.png"
big magnifier_zoom_in "$OUT/images/32/search_plus.png"
big world "$OUT/images/32/world.png"
big layout_add "$OUT/images_tessaly/32/layout_add.png"
convert "$SILK/cog.png" -filter point -resize 32x32 \( "$SILK/wrench.png" -filter point -resize 20x20 \) \
        -geometry +12+12 -composite $PNG "$OUT/images/32/setting_tools.png"
# A drawn funnel with the Silk plus sign.
convert -size 32x32 xc:none -fill '#3b7dd8' -stroke '#1f4f99' -strokewidth 1.5 \
        -draw "polygon 2,4 29,4 18,16 18,27 13,30 13,16" \
        \( "$SILK/add.png" \) -geometry +16+16 -composite $PNG "$OUT/images/32/filter_add.png"

# Covers: a missing cover and a cover still loading, both 218 px.
convert -size 218x218 xc:'#e4e7ea' -fill none -stroke '#b4b9be' -strokewidth 2 \
        -draw "rectangle 64,40 154,170" -draw "line 76,40 76,170" \
        -stroke none -fill '#8a9096' -font "$FONT" -pointsize 18 -gravity south \
        -annotate +0+18 "No Cover" $PNG "$OUT/images/other/nullcover-218.png"
convert -size 218x218 xc:'#f4f6f8' -fill none -stroke '#c8ccd0' -strokewidth 2 \
        -draw "rectangle 64,40 154,170" -draw "line 76,40 76,170" \
        -stroke none -fill '#6f9ed4' -font "$FONT" -pointsize 18 -gravity south \
        -annotate +0+18 "Loading..." $PNG "$OUT/images/other/loadingcover-218.png"

# Spinner: N frames of a ring of dots, the bright dot moving round once per cycle.
spinner() { # size frames delay(cs) radius dot outfile
    size=$1 frames=$2 delay=$3 r=$4 dot=$5 out=$6
    tmp=$(mktemp -d)
    c=$(awk "BEGIN{print $size/2}")
    i=0
    while [ "$i" -lt "$frames" ]; do
        draw=""
        j=0
        while [ "$j" -lt "$frames" ]; do
            age=$(( (i - j + frames) % frames ))
            shade=$(awk "BEGIN{v=int(40+200*$age/$frames); print v}")
            x=$(awk "BEGIN{printf \"%.1f\", $c+$r*sin(6.2831853*$j/$frames)}")
            y=$(awk "BEGIN{printf \"%.1f\", $c-$r*cos(6.2831853*$j/$frames)}")
            draw="$draw fill rgb($shade,$shade,$(( shade + 15 > 255 ? 255 : shade + 15 ))) circle $x,$y $(awk "BEGIN{printf \"%.1f\", $x+$dot}"),$y"
            j=$((j + 1))
        done
        convert -size "${size}x${size}" xc:white -draw "$draw" "$tmp/f$(printf %03d "$i").png"
        i=$((i + 1))
    done
    convert -delay "$delay" -loop 0 "$tmp"/f*.png -layers Optimize "$out"
    rm -rf "$tmp"
}
spinner 120 12 17 40 7 "$OUT/images/other/Reload-2s-120px.gif"
spinner 16 8 10 5.5 1.6 "$OUT/images/16/loading-small.gif"

# Logos.
logo() { # text colour outfile
    convert -size 256x96 xc:none -fill "$2" -draw "roundrectangle 4,8 88,88 14,14" \
            -fill white -font "$FONT" -pointsize 56 -gravity northwest -annotate +24+14 "$(printf %s "$1" | cut -c1)" \
            -fill "$2" -pointsize 34 -annotate +98+28 "$1" $PNG "$3"
}
logo Tessaly '#2f6db5' "$OUT/images/logo/tessaly-logo.png"
logo Quillory '#7a4fb0' "$OUT/images/logo/quillory-logo.png"

# Application icon: an open book on a blue square, several sizes in one .ico.
tmp=$(mktemp -d)
convert -size 256x256 xc:none -fill '#2f6db5' -draw "roundrectangle 8,8 248,248 40,40" \
        -fill white -stroke '#1d4a80' -strokewidth 4 \
        -draw "polygon 40,70 124,86 124,206 40,190" -draw "polygon 216,70 132,86 132,206 216,190" \
        -stroke '#ffd34d' -strokewidth 6 -draw "line 128,84 128,210" "$tmp/icon.png"
for s in 16 32 48 256; do convert "$tmp/icon.png" -resize ${s}x${s} "$tmp/icon-$s.png"; done
convert "$tmp/icon-16.png" "$tmp/icon-32.png" "$tmp/icon-48.png" "$tmp/icon-256.png" "$OUT/images/app-icon.ico"
rm -rf "$tmp"

# The resource file lists every image under its path below resources/local/.
QRC="$HERE/images.qrc"
{
    echo '<!DOCTYPE RCC><RCC version="1.0">'
    echo '<qresource prefix="/">'
    (cd "$HERE" && find local -type f | LC_ALL=C sort | sed 's|.*|    <file>&</file>|')
    echo '</qresource>'
    echo '</RCC>'
} > "$QRC"
