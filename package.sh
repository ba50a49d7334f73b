#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Rundelt, build/release/rundelt_VERSION_ARCH.deb, with CMake's
# package workflow, after installing the Debian packages that are missing. Install it with
#   sudo apt install ./build/release/rundelt_*.deb
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
source scripts/steps.sh
step "installing the packages" scripts/ensure-packages.sh "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
step "building the package" cmake --workflow --preset package
