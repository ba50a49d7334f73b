#!/usr/bin/env bash
# Builds the Debian package of Rundelt, build/package/rundelt_VERSION_ARCH.deb, with CMake's
# package workflow, after installing the Debian packages that are missing. Install it with
#   sudo apt install ./build/package/rundelt_*.deb
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" libgtest-dev
cmake --workflow --preset package
