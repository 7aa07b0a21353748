#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build over its seed corpus once
# (-runs=0: no new inputs), so a target that no longer builds or that fails
# on its own corpus is noticed. With SECONDS_EACH > 0 each target then fuzzes
# that long on a copy of its corpus (the seed folder is never written to).
# Usage: scripts/fuzz-replay.sh [BUILD_DIR] [SECONDS_EACH]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build-fuzz}"
seconds="${2:-0}"
export QT_QPA_PLATFORM=offscreen
status=0
for src in tests/fuzz/fuzz_*.cpp; do
  stem="$(basename "$src" .cpp)"
  name="${stem#fuzz_}"
  bin="$dir/tests/fuzz/$stem"
  corpus="tests/fuzz/corpus/$name"
  if [ ! -x "$bin" ]; then
    echo "missing fuzz target $bin" >&2
    status=1
    continue
  fi
  if ! "$bin" -runs=0 "$corpus" >"$dir/$stem.replay.log" 2>&1; then
    echo "fuzz target $stem fails on its seed corpus (see $dir/$stem.replay.log)" >&2
    status=1
    continue
  fi
  echo "fuzz target $stem: seed corpus replayed"
  if [ "$seconds" -gt 0 ]; then
    work="$dir/corpus-work/$name"
    mkdir -p "$work"
    cp -n "$corpus"/* "$work"/ 2>/dev/null || true
    if ! "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -artifact_prefix="$dir/$stem-" "$work" \
        >"$dir/$stem.fuzz.log" 2>&1; then
      echo "fuzz target $stem found a failure (see $dir/$stem.fuzz.log)" >&2
      status=1
    fi
    grep -E "^#[0-9]+ +DONE" "$dir/$stem.fuzz.log" | tail -1 | sed "s/^/$stem: /" || true
  fi
done
exit $status
