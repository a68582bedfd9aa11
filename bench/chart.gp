# Four panels of bars on a log scale, megapixels per second: decoding 24-bit
# TGA, decoding the other variants with their opacity, drawing opaque sprites
# and transparent blits. Called by chart.sh with `dir`, `out` and the row
# counts `decode_rows`, `variants_rows`, `draw_rows` and `transparent_rows` set.
set terminal pngcairo size 1800,2400 font "sans,10" noenhanced
set output out
set datafile missing "?"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.9 border -1
set boxwidth 0.9
set logscale y
set grid ytics
set ylabel "megapixels per second (log scale)"
set key outside right top vertical
set xtics nomirror font ",8"
# A filtered run may leave a panel without data: it is left out.
set multiplot layout (decode_rows > 0) + (variants_rows > 0) + (draw_rows > 0) + (transparent_rows > 0),1
set bmargin 7
if (decode_rows > 0) {
    set title "Decoding 24-bit TGA into RGB565: velmora against the plain loop, its peers and memcpy/memset of the same bytes"
    plot for [i=2:7] dir."/decode.dat" using i:xtic(1) title columnhead(i)
}
if (variants_rows > 0) {
    set title "Decoding 32-bit, colour-mapped and 16-bit TGA into RGB565 and an opacity plane (stored bottom row first)"
    plot for [i=2:7] dir."/variants.dat" using i:xtic(1) title columnhead(i)
}
if (draw_rows > 0) {
    set title "Drawing 16-bit sprites (256 × 256 into 512 × 512); peer: SDL 1.2"
    plot for [i=2:5] dir."/draw.dat" using i:xtic(1) title columnhead(i)
}
if (transparent_rows > 0) {
    set bmargin 9
    set title "Transparent blits, 256 × 256 pixels into 512 × 512 (a disc, a glow, sixteen 64 × 64 sheet tiles); peers: SDL 1.2, pixman"
    plot for [i=2:5] dir."/transparent.dat" using i:xtic(1) title columnhead(i)
}
unset multiplot
