#!/bin/sh
# Fails when a source file includes a header from a layer above its own.
# The layers, bottom to top: platform, settings, imaging, formats, batch,
# then app and window (main.cpp, the program itself, starts the window).
set -eu
cd "${1:-$(dirname "$0")/..}"
rank() {
    case $1 in
        platform) echo 0 ;; settings) echo 1 ;; imaging) echo 2 ;; formats) echo 3 ;;
        batch) echo 4 ;; app | window) echo 5 ;; *) echo 9 ;;
    esac
}
status=0
for file in $(find src -name '*.h' -o -name '*.cpp' | sort); do
    layer=$(echo "$file" | cut -d/ -f2)
    own=$(rank "$layer")
    for target in $(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file" | sort -u); do
        [ "$file" = src/app/main.cpp ] && [ "$target" = window ] && continue
        if [ "$(rank "$target")" -gt "$own" ] || { [ "$layer" = app ] && [ "$target" = window ]; }; then
            echo "$file includes $target/, a layer above $layer/"
            status=1
        fi
    done
done
exit $status
