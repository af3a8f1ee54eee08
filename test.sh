#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/check-format.sh
scripts/check-layers.py
scripts/package-extension.py --lint
cmake --preset test >/dev/null
cmake --build --preset test
ctest --preset test -j2
