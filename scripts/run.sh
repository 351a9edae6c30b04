#!/usr/bin/env bash
# Sets up, builds and launches Kovani.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target Kovani
exec build/Kovani.app/Contents/MacOS/Kovani "$@"
