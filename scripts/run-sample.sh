#!/usr/bin/env bash
# Installs what is missing, builds, and opens the bundled sample model.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
if [ -x build/bin/quarlon ]; then
  exec build/bin/quarlon build/bin/sampleModel/sampleModel.vtp
fi
# Until the viewer exists: the sample model as the command-line tool sees it.
exec build/bin/quarlon-cli info build/bin/sampleModel/sampleModel.vtp
