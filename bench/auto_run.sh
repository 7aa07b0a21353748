#!/bin/bash
# The automatic run end to end against luminance-hdr-cli (a timing peer only),
# side by side on the same synthetic JPEG bracket: our whole program
# (lumidra --auto: load, merge, tone map with the default look, write a JPEG
# with the base photo's metadata) against the peer's merge + tone map + JPEG
# in one run. Whole processes, alternating, median of RUNS, wall time and
# peak memory from /usr/bin/time; quote the ratio (ours / peer), not absolute
# times, since the machine load changes from minute to minute.
#
#   bench/auto_run.sh BUILD_DIR [WIDTH HEIGHT FRAMES RUNS]
#   BEFORE=OTHER/lumidra bench/auto_run.sh BUILD_DIR ...
#
# With BEFORE, that binary (an older build, kept beside its own "built-in
# presets") runs too, in the same alternation, and gets its own line: a
# before/after comparison under the same machine state.
#
# BUILD_DIR is a Release build with -DLUMIDRA_BENCH=ON (for make_bracket).
# Needs /usr/bin/time and luminance-hdr-cli (Debian: apt-get install
# luminance-hdr time).
set -euo pipefail
BUILD=${1:?usage: auto_run.sh BUILD_DIR [WIDTH HEIGHT FRAMES RUNS]}
W=${2:-6000}; H=${3:-4000}; FRAMES=${4:-3}; RUNS=${5:-3}
PROGRAM="$BUILD/lumidra"
MAKE="$BUILD/bench/hdr_pipeline/make_bracket"
PEER=$(command -v luminance-hdr-cli || true)
[ -x "$PROGRAM" ] && [ -x "$MAKE" ] || { echo "build lumidra and make_bracket in $BUILD first" >&2; exit 2; }
[ -n "$PEER" ] || { echo "luminance-hdr-cli not found (apt-get install luminance-hdr)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found (apt-get install time)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/auto_run-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
"$MAKE" "$WORK/bracket" "$W" "$H" "$FRAMES" >/dev/null
PHOTOS=("$WORK"/bracket/*.jpg)
# The synthetic frames carry no EXIF: the peer is told their EVs (2 EV apart,
# centred on 0, in file order as make_bracket names them); ours estimates them.
EVS=$(awk -v n="$FRAMES" 'BEGIN {for (i = 0; i < n; i++) printf "%s%d", (i ? "," : ""), 2 * i - (n - 1)}')

# Our program in the conditions of an unattended run: offscreen, its own
# home, settings and temporary folder.
mkdir -p "$WORK/home" "$WORK/config" "$WORK/tmp"
# (A command line, not a shell function: /usr/bin/time runs programs only.)
OURS=(env QT_QPA_PLATFORM=offscreen HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" TMPDIR="$WORK/tmp"
      "$PROGRAM" --auto --output_fn="$WORK/ours.jpg" "${PHOTOS[@]}")

# run NAME COMMAND...: appends "seconds kilobytes" to $WORK/NAME.
run() {
    local name=$1; shift
    /usr/bin/time -f "%e %M" -o "$WORK/t" "$@" >"$WORK/$name.log" 2>&1 || { echo "$name failed: $*" >&2; tail -3 "$WORK/$name.log" >&2; exit 1; }
    cat "$WORK/t" >> "$WORK/$name"
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

BEFORE=${BEFORE:-}
[ -z "$BEFORE" ] || [ -x "$BEFORE" ] || { echo "BEFORE=$BEFORE is not a program" >&2; exit 2; }
BEFORE_CMD=(env QT_QPA_PLATFORM=offscreen HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" TMPDIR="$WORK/tmp"
            "$BEFORE" --auto --output_fn="$WORK/before.jpg" "${PHOTOS[@]}")

for i in $(seq "$RUNS"); do
    [ -z "$BEFORE" ] || run before "${BEFORE_CMD[@]}"
    run ours "${OURS[@]}"
    run peer "$PEER" -e "$EVS" --tmo durand -q 95 -o "$WORK/peer.jpg" "${PHOTOS[@]}"
done
[ -s "$WORK/ours.jpg" ] || { echo "our run wrote no result" >&2; exit 1; }

ot=$(cut -d' ' -f1 "$WORK/ours" | median); om=$(cut -d' ' -f2 "$WORK/ours" | median)
pt=$(cut -d' ' -f1 "$WORK/peer" | median); pm=$(cut -d' ' -f2 "$WORK/peer" | median)
echo "bracket: $FRAMES JPEG frames of ${W}x${H}, median of $RUNS alternating runs"
echo "ours: $(cat "$WORK/ours" | tr '\n' ' ')"
echo "peer: $(cat "$WORK/peer" | tr '\n' ' ')"
if [ -n "$BEFORE" ]; then
    bt=$(cut -d' ' -f1 "$WORK/before" | median); bm=$(cut -d' ' -f2 "$WORK/before" | median)
    echo "before: $(cat "$WORK/before" | tr '\n' ' ')"
    awk -v bt="$bt" -v bm="$bm" -v ot="$ot" -v pt="$pt" 'BEGIN {
        printf "before (%s): %.2f s %d MB, time ratio to the peer %.2f; after / before %.2f\n",
               ENVIRON["BEFORE"], bt, bm / 1024, bt / pt, ot / bt }'
fi
awk -v ot="$ot" -v om="$om" -v pt="$pt" -v pm="$pm" 'BEGIN {
    printf "automatic run (lumidra --auto / luminance-hdr-cli -e EVS --tmo durand -o out.jpg): ours %.2f s %d MB, peer %.2f s %d MB, time ratio %.2f, memory ratio %.2f\n",
           ot, om / 1024, pt, pm / 1024, ot / pt, om / pm }'
