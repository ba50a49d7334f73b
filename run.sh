#!/usr/bin/env bash
# Builds Rundelt and starts it, optionally with a wave file: ./run.sh [FILE.wav]
# The file's path is taken relative to where run.sh was called from.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
(
  cd "$here"
  source scripts/packages.sh
  scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" libgtest-dev
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target rundelt
)
exec "$here/build/dev/window/rundelt" "$@"
