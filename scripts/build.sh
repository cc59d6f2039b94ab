#!/usr/bin/env bash
# Configures and builds into build/<kind>; kind is "release" (default) or "sanitize".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-release}
case "$kind" in
  release)  opts=(-DCMAKE_BUILD_TYPE=Release) ;;
  sanitize) opts=(-DCMAKE_BUILD_TYPE=Debug -DVELMO_SANITIZE=ON) ;;
  *) echo "unknown build kind: $kind" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$kind" -G Ninja "${opts[@]}" >/dev/null
cmake --build "$root/build/$kind"
