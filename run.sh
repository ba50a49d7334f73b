#!/usr/bin/env bash
# Builds Rundelt and starts it, optionally with a wave file: ./run.sh [FILE.wav]
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" libgtest-dev
cmake --preset dev >/dev/null
cmake --build --preset dev --target rundelt-cli
exec build/dev/cli/rundelt-cli --help
