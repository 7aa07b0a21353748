#!/usr/bin/env bash
# Installs what is missing, builds Lumidra (release) and starts it.
# Arguments are passed to the program (photos, --auto, ...).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIDRA_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: running under a virtual X server (xvfb-run)."
  exec xvfb-run -a build/lumidra "$@"
fi
exec build/lumidra "$@"
