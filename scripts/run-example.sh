#!/usr/bin/env bash
# Installs what is missing, builds velmo and runs it on the bundled example catchment.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" release
cd "$root/examples"
"$root/build/release/velmo" example.ctl
