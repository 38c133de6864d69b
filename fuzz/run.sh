#!/bin/sh
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a bounded
# time. CI runs it through .ci/fuzz for about a minute in all.
#
#   fuzz/run.sh [seconds per target, default 60] [target ...]
#
# Targets: convert_file profile preferences list_file options. Seeds come
# from fuzz/seeds/<target>/ (earlier findings and hostile inputs, kept in the
# repository), the GIF corpus (../shared/testdata/gif, or $KESTRUNE_CORPUS)
# and small samples written here; findings land in
# build-fuzz/findings/<target>/.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build-fuzz"
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-convert_file profile preferences list_file options}
corpus=${KESTRUNE_CORPUS:-$root/../shared/testdata/gif}
jobs=${FUZZ_BUILD_JOBS:-2}

# The compiler and its fuzzer runtime.
if ! command -v clang++ >/dev/null 2>&1 || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    $sudo apt-get install -y clang libclang-rt-14-dev
fi

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
cmake -S "$root" -B "$build" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKESTRUNE_TESTS=OFF -DKESTRUNE_WINDOW=OFF -DKESTRUNE_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_PROJECT_kestrune_INCLUDE="$here/targets.cmake" >/dev/null
for t in $targets; do
    cmake --build "$build" --target "fuzz_$t" -j"$jobs"
done

seeds="$build/seeds"
mkdir -p "$seeds/convert_file" "$seeds/profile" "$seeds/preferences" "$seeds/list_file" "$seeds/options"
if [ -d "$corpus" ]; then
    cp "$corpus"/*.gif "$seeds/convert_file/" 2>/dev/null || true
else
    echo "GIF corpus not found at $corpus; convert_file starts from its own seed" >&2
fi
for t in convert_file profile preferences list_file options; do
    [ -d "$here/seeds/$t" ] && cp "$here/seeds/$t"/* "$seeds/$t/" 2>/dev/null
done
[ -f "$root/samples/bouncing-ball.gif" ] && cp "$root/samples/bouncing-ball.gif" "$seeds/convert_file/"
printf '[CLI]\r\n--jpg-quality = 80\r\n--wm-text = "a"\r\n--width=$20\r\n--gamma=NaN\r\n--filename-mask="%%filename%%"\r\n' > "$seeds/profile/cli.ini"
printf '\357\273\277[CLI]\n--png-interlaced = 0\n; comment\n[Other]\nx=1\n' > "$seeds/profile/bom.ini"
printf '\357\273\277\r\n[General]\r\nCFG = 10\r\n[Advanced]\r\nFilename Mask = %%filename%%\r\n[File]\r\nCsvDelimiter = tab\r\n[Transform]\r\nImage Gamma = +Infinity\r\n' > "$seeds/preferences/config.ini"
printf '[Window]\nWidth = -5\nIsMaximized = 1\n[Output]\nFormat = jpg\nJPG Quality = 101\n' > "$seeds/preferences/window.ini"
printf 'a.gif\n  sub  \n\tsub\nsub\\\\deeper\nempty.gif\na.gif\n' > "$seeds/list_file/list.txt"
printf '\357\273\277a.gif\r\nsub\r\n' > "$seeds/list_file/bom.txt"
printf -- '-i\0a.gif\0--jpg-quality=$5A\0--wm-text="a\0b"\0-c\0"png"\0--brightness=--5\0-q' > "$seeds/options/args"
printf -- '--profile=cli.ini\0--width=12px\0--gamma=1e40\0--resize-algorithm=lanczos\0-d' > "$seeds/options/profile"
cp "$seeds/profile/cli.ini" "$build/cli.ini"

status=0
for t in $targets; do
    findings="$build/findings/$t"
    work="$build/work/$t"
    mkdir -p "$findings" "$work"
    echo "== fuzz_$t for ${seconds}s"
    # Leaks inside FreeImage's and DevIL's own decoders are theirs; the
    # targets are about crashes, overflows and undefined behaviour.
    # A GIF of tiny frames costs about 30 ms a frame in this build, so the
    # pipeline's inputs are kept to 16 KB (some 700 frames) and a minute.
    max_len=65536
    [ "$t" = convert_file ] && max_len=16384
    if ! (cd "$build" && ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}" \
          "$build/fuzz_$t" "$work" "$seeds/$t" -max_total_time="$seconds" -max_len="$max_len" \
          -timeout=60 -rss_limit_mb=3072 -artifact_prefix="$findings/" -print_final_stats=1); then
        echo "fuzz_$t found a problem: see $findings" >&2
        status=1
    fi
done
exit $status
