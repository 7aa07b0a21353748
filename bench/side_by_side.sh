#!/bin/bash
# Side-by-side timing of hdr_pipeline against luminance-hdr-cli (a timing peer
# only) on the same synthetic JPEG bracket: whole processes, alternating, median
# of RUNS, wall time and peak memory from /usr/bin/time. Prints the medians and
# the ratios (ours / peer); quote ratios, not absolute times, since the machine
# load changes from minute to minute.
#
#   bench/side_by_side.sh BUILD_DIR [WIDTH HEIGHT FRAMES RUNS]
#
# BUILD_DIR is a Release build with -DLUMIDRA_BENCH=ON. Needs /usr/bin/time and
# luminance-hdr-cli (Debian: apt-get install luminance-hdr time).
set -euo pipefail
BUILD=${1:?usage: side_by_side.sh BUILD_DIR [WIDTH HEIGHT FRAMES RUNS]}
W=${2:-6000}; H=${3:-4000}; FRAMES=${4:-3}; RUNS=${5:-3}
PIPE="$BUILD/bench/hdr_pipeline/hdr_pipeline"
MAKE="$BUILD/bench/hdr_pipeline/make_bracket"
PEER=$(command -v luminance-hdr-cli || true)
[ -x "$PIPE" ] && [ -x "$MAKE" ] || { echo "build hdr_pipeline and make_bracket in $BUILD first" >&2; exit 2; }
[ -n "$PEER" ] || { echo "luminance-hdr-cli not found (apt-get install luminance-hdr)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found (apt-get install time)" >&2; exit 2; }

WORK=$(mktemp -d /tmp/side_by_side-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
"$MAKE" "$WORK/bracket" "$W" "$H" "$FRAMES" >/dev/null
PHOTOS=("$WORK"/bracket/*.jpg)
# The synthetic frames carry no EXIF: the peer is told their EVs (2 EV apart,
# centred on 0, in file order as make_bracket names them).
EVS=$(awk -v n="$FRAMES" 'BEGIN {for (i = 0; i < n; i++) printf "%s%d", (i ? "," : ""), 2 * i - (n - 1)}')
export QT_QPA_PLATFORM=offscreen

# run NAME COMMAND...: appends "seconds kilobytes" to $WORK/NAME.
run() {
    local name=$1; shift
    /usr/bin/time -f "%e %M" -o "$WORK/t" "$@" >/dev/null 2>&1 || { echo "$name failed: $*" >&2; exit 1; }
    cat "$WORK/t" >> "$WORK/$name"
}
median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# A merged HDR image for the tone-mapping comparison (both read the same file).
"$PIPE" --save-hdr "$WORK/merged.exr" "${PHOTOS[@]}" >/dev/null 2>&1

for i in $(seq "$RUNS"); do
    run ours_merge "$PIPE" --method true "${PHOTOS[@]}"
    run peer_merge "$PEER" -e "$EVS" -s "$WORK/peer.exr" "${PHOTOS[@]}"
    # Ours: the stages "localcontrast" + "tonemap" of one run (the tone
    # mapping of the merged image, as the peer's -l run tone-maps a file).
    "$PIPE" --tonemap "$WORK/ours.jpg" "${PHOTOS[@]}" 2>/dev/null |
        awk '$1 == "stage" && ($2 == "localcontrast" || $2 == "tonemap") {t += $3}
             $1 == "peak_rss_mb" {m = $2 * 1024} END {print t, m}' >> "$WORK/ours_tm"
    run peer_tm "$PEER" -l "$WORK/merged.exr" --tmo durand -o "$WORK/peer.jpg"
done

report() {
    local what=$1 ours=$2 peer=$3
    local ot om pt pm
    ot=$(cut -d' ' -f1 "$WORK/$ours" | median); om=$(cut -d' ' -f2 "$WORK/$ours" | median)
    pt=$(cut -d' ' -f1 "$WORK/$peer" | median); pm=$(cut -d' ' -f2 "$WORK/$peer" | median)
    awk -v w="$what" -v ot="$ot" -v om="$om" -v pt="$pt" -v pm="$pm" 'BEGIN {
        printf "%s: ours %.2f s %d MB, peer %.2f s %d MB, time ratio %.2f, memory ratio %.2f\n",
               w, ot, om / 1024, pt, pm / 1024, ot / pt, om / pm }'
}
echo "bracket: $FRAMES JPEG frames of ${W}x${H}, median of $RUNS alternating runs"
report "load + merge (hdr_pipeline --method true / luminance-hdr-cli -s out.exr)" ours_merge peer_merge
echo "note: tone mapping compares our localcontrast + tonemap stages (memory: the whole run) with the peer's whole -l run"
report "tone mapping (hdr_pipeline --tonemap / luminance-hdr-cli -l merged.exr --tmo durand)" ours_tm peer_tm
