#!/bin/bash
# compare_builds.sh REF NEW [WORK]
#
# Runs two builds of kestrunecmd side by side over every output format, depth
# and encoder option, every image operation, watermark and naming token, and
# compares their output files and console text byte for byte: the proof that
# a change meant to keep every output (a restructuring) kept it. Console
# text is compared exactly; the error stream as a set of characters, since
# library warnings of encoders running side by side interleave differently
# from one run to the next. Prints one line per difference and a total,
# keeps the outputs of the runs that differ in WORK, and exits 1 when
# anything differed.
#
# Uses samples/ and, when present, ../shared/testdata/gif beside the
# checkout. Needs ImageMagick's convert for the watermark logo.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { echo "usage: $0 REF NEW [WORK]" >&2; exit 2; }
W=${3:-$(mktemp -d)}
rm -rf "$W"; mkdir -p "$W/few" "$W/many" "$W/one" "$W/rb" "$W/nb" "$W/run"
cp "$1" "$W/rb/kestrunecmd"; cp "$2" "$W/nb/kestrunecmd"
cp "$here/samples/bouncing-ball.gif" "$W/one/a.gif"
cp "$here/samples/bouncing-ball.gif" "$W/few/"
cp "$here/samples/bouncing-ball.gif" "$W/many/"
corpus="$here/../shared/testdata/gif"
if [ -d "$corpus" ]; then
    for f in imagegif__2x2 imagegif__alpha_gif_a imagegif__anim-gr imagegif__beacon; do cp "$corpus/$f.gif" "$W/few/"; done
    for f in "$corpus"/*.gif; do case $f in *bomb* | *sample_big*) ;; *) cp "$f" "$W/many/" ;; esac; done
fi
convert -size 40x20 xc:red -fill blue -draw "rectangle 5,5 20,15" "$W/logo.png"
# A lock of its own: a second copy of the program sharing the usual lock
# ends silently, and would make both sides look alike.
chmod 700 "$W/run"
export XDG_RUNTIME_DIR=$W/run KESTRUNE_LOCK_WAIT=600 KESTRUNE_CONSOLE_UTF8=1 KESTRUNE_RANDOM_SEED=7 HOME=$W

runs=0 differ=0
# run NAME ARGS...: both builds with ARGS -o <own folder> -d.
run() {
    local name=$1 side bin
    shift
    for side in ref new; do
        bin=$W/rb/kestrunecmd; [ $side = new ] && bin=$W/nb/kestrunecmd
        mkdir -p "$W/$side/$name"
        (cd "$W" && "$bin" "$@" -o "$W/$side/$name" -d >"$W/$side/$name.txt" 2>"$W/$side/$name.err"
         echo "exit $?" >>"$W/$side/$name.txt")
        sed -i -e "s#$W/$side/#OUT/#g" -e "s#$W/[rn]b/#BIN/#g" "$W/$side/$name.txt"
    done
    runs=$((runs + 1))
    if ! diff -r "$W/ref/$name" "$W/new/$name" >/dev/null || ! cmp -s "$W/ref/$name.txt" "$W/new/$name.txt" ||
        [ "$(fold -w1 "$W/ref/$name.err" | sort | md5sum)" != "$(fold -w1 "$W/new/$name.err" | sort | md5sum)" ]; then
        differ=$((differ + 1))
        echo "differs: $name ($*)"
    else
        rm -rf "$W/ref/$name" "$W/new/$name"  # only what differs is kept to be looked at
    fi
}

# Every format at every depth it allows (0: chosen by the image), on a few
# files at once and on one file alone at one thread.
declare -A depths=(
    [bmp]="0 1 4 8 16 24 32" [dds]="0 32" [exr]="0 96" [gif]="0 8" [hdr]="0 96" [ico]="0 1 4 8 16 24 32"
    [j2k]="0 8 24 32 48" [jng]="0 24 32" [jp2]="0 8 24 32 48" [jpg]="0 8 24" [jxr]="0 1 8 16 24 32 48 96"
    [pbm]="0 1" [pcx]="0 24" [pfm]="0 96" [pgm]="0 8" [png]="0 1 4 8 24 32 48" [ppm]="0 24 48" [psd]="0 32"
    [tga]="0 8 16 24 32" [tiff]="0 1 4 8 24 32 48 96" [wbmp]="0 1" [webp]="0 24 32" [xpm]="0 24")
for format in "${!depths[@]}"; do
    for depth in ${depths[$format]}; do run "$format-$depth" -i "$W/few/" -c "$format" "--$format-bpp=$depth"; done
    KESTRUNE_THREADS=1 run "$format-one" -i "$W/one/a.gif" -c "$format"
done

# Every encoder option with every name it takes, and names it does not.
while read -r option format names; do
    for name in $names; do run "$format$option=$name" -i "$W/few/" -c "$format" "$option=$name"; done
done <<'OPTIONS'
--bmp-compression bmp NONE RLE ZIP bogus
--bmp-color-table bmp AUTO EXACT x
--exr-compression exr NONE ZIP PIZ PXR24 B44 RLE
--png-compression png NONE ZLIB1 ZLIB6 ZLIB9 JPEG
--png-interlaced png 1 0
--tga-compression tga NONE RLE ZIP
--tiff-compression tiff NONE CCITTFAX3 CCITTFAX4 PACKBITS DEFLATE ADOBEDEFLATE LZW JPEG LOGLUV RLE
--tiff-color-model tiff RGB CMYK LAB
--jpg-quality jpg 0 1 50 100 101 abc
--jpg-chroma jpg NONE LOW MEDIUM HIGH
--jpg-save-as jpg STANDARD SIMPLE OPTIMIZED PROGRESSIVE
OPTIONS
run bmp-exact-rle -i "$W/one/a.gif" -c bmp --bmp-bpp=8 --bmp-compression=RLE --bmp-color-table=EXACT
printf '[CLI]\n--PNG-BPP=8\n--TIFF-COMPRESSION=LZW\n--JPG-QUALITY=40\n--PNG-INTERLACED\n' >"$W/profile.ini"
for format in png tiff jpg; do run "profile-$format" -i "$W/few/" -c "$format" "--profile=$W/profile.ini"; done

# Every operation, watermark and token, on the sample and on every file of
# the corpus.
n=0
while IFS= read -r line; do
    n=$((n + 1))
    line=${line//LOGO/$W/logo.png}
    eval "set -- $line"
    run "op$n" -i "$W/one/a.gif" -c png "$@"
    run "op$n-all" -i "$W/many/" -c png "$@"
done <<'OPERATIONS'
--rotation=90
--rotation=-33 --rotation-type=ADVANCED --rotation-back-color=FF0000
--width=50 --height=30 --resize-algorithm=BSPLINE
--width=150 --width-unit=PERCENT --height=80 --height-unit=PERCENT --keep-aspect-ratio --resize-type=LARGEIMAGES
--brightness=30 --contrast=-20 --gamma=1.7
--threshold=128
--fr-solid-left=5 --fr-solid-right=7 --fr-solid-top=3 --fr-solid-bottom=9 --fr-solid-left-color=FF00FF --fr-solid-opacity=60
"--wm-text=Hello world" "--wm-font=DejaVu Sans" --wm-font-size=14 --wm-text-position=BOTTOMRIGHT
"--wm-text=Two%eol%lines" --wm-text-alignment=CENTER --wm-text-rotation=30 --wm-back-opacity=50 --wm-font-style=BOLDITALIC --wm-font-effect=UNDERLINE
--wm-text=Edge --wm-text-x-offset=-3 --wm-text-y-offset=-2 --wm-text-boundary=FRAME --fr-solid-left=4
--wm-image=LOGO --wm-image-opacity=70 --wm-image-position=TOPRIGHT
--wm-image=LOGO --wm-image-rotation=45 --wm-image-x-offset=5
--filename-mask=%filename%_%n%
--filename-mask=x_%rnd%_%width%x%height%_%bpp%_%ext[u]%
--gif-frame-loading=LAST
--gif-frame-loading=MIDDLE --rotation=180 --width=20 --height=20
--file-timestamp=ORIGINAL
OPERATIONS
for threads in 1 3 8; do KESTRUNE_THREADS=$threads run "threads$threads" -i "$W/many/" -c tiff; done
for format in "${!depths[@]}"; do run "all-$format" -i "$W/many/" -c "$format" --width=64 --height=48 --wm-text=K; done
run help -h
run version -v

echo "$runs runs, $((runs - differ)) identical, $differ different"
[ "$differ" -eq 0 ]
