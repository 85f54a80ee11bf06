#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (GUI tests under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir build --output-on-failure -j"$(nproc)" --no-tests=error
