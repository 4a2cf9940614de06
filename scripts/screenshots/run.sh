#!/usr/bin/env bash
# Writes pictures of the desktop program into FOLDER (default out/screenshots), under Xvfb
# with Mesa's software renderer. Needs the release build (make build).
set -euo pipefail
cd "$(dirname "$0")/../.."
folder=$(realpath -m "${1:-out/screenshots}")
tool=build/release/tests/app/korvan-screenshots
cd "$(dirname "$tool")"
LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    ./korvan-screenshots "$folder"
echo "Pictures in $folder"
