#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Rundelt optimised (the release preset) and starts it, optionally with a wave file:
# ./run.sh [FILE.wav]. The file's path is taken relative to where run.sh was called from.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
(
  cd "$here"
  source scripts/packages.sh
  source scripts/steps.sh
  step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}"
  quiet_step "configuring the release preset" cmake --preset release
  step "building the window" cmake --build --preset release --target rundelt
)
exec "$here/build/release/window/rundelt" "$@"
