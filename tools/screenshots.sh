#!/bin/sh
# Retakes the README's pictures from the real window under a window manager:
#   apt-get install xvfb openbox xdotool x11-utils imagemagick
#   tools/screenshots.sh build/kestrunecmd docs
# The window starts with its defaults (a fresh config folder), five GIFs in
# /home/anna/Pictures/animations and the output folder
# /home/anna/Pictures/frames. That home is a temporary one: the window runs
# in a mount namespace of its own (unshare) in which an empty tmpfs covers
# /home, so the machine's /home is neither seen nor changed and the made-up
# home goes with the namespace. The program and the pictures pass through
# this script's temporary folder, the only thing it removes.
set -eu
if [ "${KESTRUNE_SHOTS_WORK:-}" = "" ]; then
    program=$(readlink -f "$1")
    docs=$(readlink -f "$2")
    script=$(readlink -f "$0")
    # Under /tmp rather than $TMPDIR, which may lie below the covered /home.
    work=$(mktemp -d /tmp/kestrune-shots.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    cp "$program" "$work/kestrunecmd"
    cp "$(dirname "$script")/../samples/bouncing-ball.gif" "$work/sample.gif"
    mkdir "$work/shots"
    KESTRUNE_SHOTS_WORK=$work unshare --user --map-root-user --mount sh "$script"
    cp "$work"/shots/*.png "$docs/"
    exit 0
fi

# In the namespace: mounts made here are private to it.
work=$KESTRUNE_SHOTS_WORK
mount -t tmpfs -o mode=755 kestrune-home /home
export HOME=/home/anna
pictures=$HOME/Pictures
display=:97
mkdir -p "$pictures/animations" "$pictures/frames"
for name in bouncing-ball loading-spinner night-sky paper-plane waving-flag; do
    cp "$work/sample.gif" "$pictures/animations/$name.gif"
done
mkdir -p "$work/config/Tarvel/kestrune"
# PNG output and the text watermark switched on, so that its page is not greyed out.
printf '[Output]\nFormat=png\n[Watermark]\nDo Watermark=1\n[File]\nRecent Out Folders=%s/frames/\n' "$pictures" \
    > "$work/config/Tarvel/kestrune/config.ini"

Xvfb $display -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
DISPLAY=$display openbox >/dev/null 2>&1 &
wm=$!
sleep 1
trap 'kill $wm $xvfb 2>/dev/null || true' EXIT

export DISPLAY=$display XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb
shots=$work/shots
# The active window with the window manager's frame around it.
shoot() { sleep 1; import -frame -window "$(xdotool getactivewindow)" "$1"; }

"$work/kestrunecmd" "$pictures"/animations/*.gif &
app=$!
sleep 3
xdotool search --sync --name "Tarvel GIF to IMAGE" windowactivate --sync >/dev/null
shoot "$shots/main-window.png"
xdotool key --clearmodifiers F5    # convert once for the progress dialog
sleep 3
shoot "$shots/progress-dialog.png"
xdotool key Return
sleep 1
xdotool key alt+c p                # Converter > Preferences...
sleep 2
for i in 1 2 3 4 5 6; do xdotool key ctrl+Tab; done   # to the Watermark page
shoot "$shots/preferences-watermark.png"
for i in 1 2 3 4; do xdotool key ctrl+shift+Tab; done   # back to the Output page
shoot "$shots/preferences.png"
xdotool key Escape
sleep 1
xdotool key Home                   # the first file: its frame before and after, beside the list
sleep 2
shoot "$docs/preview.png"
# A run with failures: one file gone before the run, one that is no picture.
rm "$pictures/animations/night-sky.gif"
printf 'not a picture\n' > "$pictures/animations/paper-plane.gif"
xdotool key --clearmodifiers F5
sleep 3
xdotool key Return
sleep 1
xdotool key Down Down              # the file that was gone, its reason below the list
xdotool key alt+v                  # only the files not converted
sleep 1
shoot "$docs/run-with-failures.png"
xdotool key alt+x
wait $app || true
