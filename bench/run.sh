#!/usr/bin/env bash
# Times kestrunecmd against a bare-FreeImage floor (bench_floor), GraphicsMagick
# and ImageMagick on generated workloads and the longest corpus animations.
#
#   bench/run.sh [runs]        runs per job and tool, default 3
#
# Environment: KESTRUNE_BENCH_DIR (work folder, default /tmp/kestrune-bench),
# KESTRUNE_CORPUS (the GIF corpus, default ../shared/testdata/gif beside the
# source tree), KESTRUNE_BENCH_BUILD (build folder, default build-bench),
# BENCH_JOBS (e.g. "J1 J3", default all), BENCH_TOOLS (e.g. "kestrune floor",
# default all), KESTRUNE_BENCH_BEFORE (a kestrunecmd built from an earlier
# tree: adds the tools before-2 and before-1, run as kestrune-2 and
# kestrune-1, and a count of output files larger than that build's).
# Runs are interleaved (each round runs every tool once per job), so load from
# other processes spreads over all tools; compare ratios, not absolute times.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
RUNS=${1:-3}
WORK=${KESTRUNE_BENCH_DIR:-/tmp/kestrune-bench}
CORPUS=${KESTRUNE_CORPUS:-$ROOT/../shared/testdata/gif}
BUILD=${KESTRUNE_BENCH_BUILD:-$ROOT/build-bench}
JOBS=${BENCH_JOBS:-"J1 J2 J3 J3W J4 J5 J6 S30 S120 S380"}

# --- tools -------------------------------------------------------------------
missing=()
command -v gm >/dev/null || missing+=(graphicsmagick)
command -v gifsicle >/dev/null || missing+=(gifsicle)
[ -x /usr/bin/time ] || missing+=(time)
command -v convert-im6.q16 >/dev/null || missing+=(imagemagick)
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The ImageMagick binary itself, not a "convert" wrapper earlier in PATH.
IM=$(command -v convert-im6.q16 || command -v convert)

cmake -S "$ROOT" -B "$BUILD" -DKESTRUNE_BENCH=ON -DKESTRUNE_WINDOW=OFF >/dev/null
cmake --build "$BUILD" --target kestrunecmd bench_floor bench_workload -j2 >/dev/null
K=$BUILD/kestrunecmd
F=$BUILD/bench/bench_floor

# --- inputs (deterministic; made once) --------------------------------------
IN=$WORK/in
if [ ! -f "$IN/.complete" ]; then
    rm -rf "$IN"
    "$BUILD/bench/bench_workload" "$IN"
    # Re-encode with a real LZW compressor: the generator writes plain codes.
    find "$IN" -name '*.gif' -print0 | xargs -0 -P2 -I{} gifsicle {} -o {}
    mkdir -p "$IN/j5"
    for f in imagegif__sample_big.gif wuffs__gifplayer-muybridge.gif; do
        [ -f "$CORPUS/$f" ] && ln -sf "$(cd "$CORPUS" && pwd)/$f" "$IN/j5/$f"
    done
    touch "$IN/.complete"
fi
# J6 came later: made on its own, so that older work folders gain it.
if [ ! -f "$IN/j6/.complete" ]; then
    rm -rf "$IN/j6"
    "$BUILD/bench/bench_workload" "$IN" j6
    find "$IN/j6" -name '*.gif' -print0 | xargs -0 -n 200 -P2 sh -c 'for f; do gifsicle "$f" -o "$f"; done' sh
    touch "$IN/j6/.complete"
fi

# --- jobs ----------------------------------------------------------------------
PNG_K="-c png -q --png-compression=ZLIB6"
MARK_K="--fr-solid-left=8 --fr-solid-right=8 --fr-solid-top=8 --fr-solid-bottom=8 --fr-solid-left-color=FF0000 --fr-solid-right-color=FF0000 --fr-solid-top-color=FF0000 --fr-solid-bottom-color=FF0000 --wm-text=kestrune_bench --wm-font-size=20 --wm-font-color=FFFFFF"
# GraphicsMagick and ImageMagick: zlib level 6 with adaptive filtering
# ("-quality 65"), RGBA output, every frame composed (-coalesce).
PNG_M="-coalesce +repage +adjoin -quality 65"
MARK_M="-fill '#FF0000' -draw 'rectangle 0,0 479,7' -draw 'rectangle 0,262 479,269' -draw 'rectangle 0,0 7,269' -draw 'rectangle 472,0 479,269' -fill white -font /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf -pointsize 20 -draw \"text 16,36 'kestrune bench'\""
JPG_M="+repage -filter Mitchell -resize 320x240! -quality 90 -sampling-factor 2x2"

job_input() {
    case $1 in
        J1 | J2) echo "$IN/j1" ;; J3 | J3W) echo "$IN/j3" ;; J4) echo "$IN/j4" ;; J5) echo "$IN/j5" ;; J6) echo "$IN/j6" ;;
        S30) echo "$IN/scale/frames030" ;; S120) echo "$IN/scale/frames120" ;; S380) echo "$IN/scale/frames380" ;;
    esac
}

# The command line of one tool for one job, reading $in, writing into $out.
command_for() {
    local job=$1 tool=$2 in=$3 out=$4
    local kopts="$PNG_K" fmode=png ext=png mopts="$PNG_M" prefix="PNG32:"
    case $job in
        J2) kopts="-c jpg -q --jpg-quality=90 --jpg-chroma=MEDIUM --width=320 --height=240"
            fmode=jpg ext=jpg mopts="$JPG_M" prefix="" ;;
        J3W) kopts="$PNG_K $MARK_K" fmode=png-marked mopts="$PNG_M $MARK_M" ;;
    esac
    case $tool in
        kestrune) echo "$K -i $in -o $out $kopts" ;;
        kestrune-1) echo "KESTRUNE_THREADS=1 $K -i $in -o $out $kopts" ;;
        kestrune-2) echo "KESTRUNE_THREADS=2 $K -i $in -o $out $kopts" ;;
        before-1) echo "KESTRUNE_THREADS=1 $KESTRUNE_BENCH_BEFORE -i $in -o $out $kopts" ;;
        before-2) echo "KESTRUNE_THREADS=2 $KESTRUNE_BENCH_BEFORE -i $in -o $out $kopts" ;;
        floor) echo "$F $fmode $out $in/*.gif" ;;
        gm) # one process for the whole batch, as kestrune has
            local script=$out.gm
            : >"$script"
            for f in "$in"/*.gif; do
                echo "convert $f $mopts $prefix$out/$(basename "$f" .gif)-%d.$ext" >>"$script"
            done
            echo "gm batch -echo off -feedback off $script" ;;
        im) echo "for f in $in/*.gif; do $IM \"\$f\" $mopts \"$prefix$out/\$(basename \"\$f\" .gif)-%d.$ext\"; done" ;;
    esac
}

RESULTS=$WORK/results.tsv
: >"$RESULTS"
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
for run in $(seq 1 "$RUNS"); do
    for job in $JOBS; do
        in=$(job_input "$job")
        [ -d "$in" ] && ls "$in"/*.gif >/dev/null 2>&1 || { echo "skip $job: no input"; continue; }
        tools=${BENCH_TOOLS:-"kestrune kestrune-2 kestrune-1 floor gm im"}
        [ -n "${KESTRUNE_BENCH_BEFORE:-}" ] && tools="$tools before-2 before-1"
        case $job in S*) tools=$(echo " $tools " | sed 's/ gm / /; s/ im / /') ;; esac
        for tool in $tools; do
            out=$WORK/out/$job-$tool
            rm -rf "$out" "$out.gm"
            mkdir -p "$out"
            cmd=$(command_for "$job" "$tool" "$in" "$out")
            if ! /usr/bin/time -f "%e %M" -o "$WORK/time.txt" bash -c "$cmd" >/dev/null 2>"$WORK/stderr.txt"; then
                echo "warning: $job $tool failed: $(head -c 300 "$WORK/stderr.txt")" >&2
            fi
            read -r secs kb <"$WORK/time.txt"
            files=$(find "$out" -type f | wc -l)
            printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$job" "$tool" "$run" "$secs" "$kb" "$files" >>"$RESULTS"
            printf '%-5s %-10s run %s: %6.2f s %7d KB %5d files\n' "$job" "$tool" "$run" "$secs" "$kb" "$files"
        done
    done
done

python3 - "$RESULTS" <<'EOF'
import collections, statistics, sys
rows = collections.defaultdict(list)
for line in open(sys.argv[1]):
    job, tool, run, secs, kb, files = line.split("\t")
    rows[(job, tool)].append((float(secs), int(kb), int(files)))
jobs = list(dict.fromkeys(k[0] for k in rows))
print("\n| job | tool | median s | peak MB | files | ms/frame | x floor |")
print("|---|---|---:|---:|---:|---:|---:|")
for job in jobs:
    floor = statistics.median(s for s, _, _ in rows.get((job, "floor"), [(float("nan"), 0, 0)]))
    for tool in ("kestrune", "kestrune-2", "kestrune-1", "before-2", "before-1", "floor", "gm", "im"):
        if (job, tool) not in rows:
            continue
        r = rows[(job, tool)]
        secs = statistics.median(s for s, _, _ in r)
        kb = max(k for _, k, _ in r)
        files = r[-1][2]
        per = f"{1000 * secs / files:.1f}" if files else "-"
        print(f"| {job} | {tool} | {secs:.2f} | {kb / 1024:.0f} | {files} | {per} | {secs / floor:.2f} |")
EOF

# Output sizes against the earlier build, file by file (same names).
if [ -n "${KESTRUNE_BENCH_BEFORE:-}" ]; then
    echo
    for job in $JOBS; do
        new=$WORK/out/$job-kestrune-1 old=$WORK/out/$job-before-1
        [ -d "$new" ] && [ -d "$old" ] || continue
        python3 - "$job" "$new" "$old" <<'EOF'
import os, sys
job, new, old = sys.argv[1:]
names = sorted(os.listdir(old))
a = sum(os.path.getsize(os.path.join(new, n)) for n in names)
b = sum(os.path.getsize(os.path.join(old, n)) for n in names)
larger = [n for n in names if os.path.getsize(os.path.join(new, n)) > os.path.getsize(os.path.join(old, n))]
print(f"{job}: {len(names)} files, {a / 1e6:.2f} MB against {b / 1e6:.2f} MB before, {len(larger)} larger {larger[:3]}")
EOF
    done
fi
