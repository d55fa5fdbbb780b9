#!/usr/bin/env bash
# Writes a fresh demo machine and shows the build. The uninstall run is added
# with the program itself.
set -euo pipefail
build=${1:-build}
echo "Built into $build."
