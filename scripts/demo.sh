#!/usr/bin/env bash
# The main job: builds the setup around the bundled sample payload (or -DZARVO_SETUP_PAYLOAD
# given as arguments) and runs the Windows binary under Wine, in this terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
export LANG=C.UTF-8
./scripts/bootstrap.sh
cmake --preset windows "$@" >/dev/null
cmake --build --preset windows --target zarvo-setup
exec cmake/wine-run.sh build/windows/zarvo-setup.exe
