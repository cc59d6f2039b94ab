#!/usr/bin/env bash
# Formats every C++ file of src/, tests/ and bench/ with clang-format and the
# repository's .clang-format. With --check nothing is changed: the files that
# differ from their formatted form are listed and the exit status is 1.
# CLANG_FORMAT names another binary (the project formats with Debian's
# clang-format 14; other versions may format a few lines differently).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clang_format=${CLANG_FORMAT:-clang-format}
check=false
case "${1:-}" in
  "") ;;
  --check) check=true ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
if ! command -v "$clang_format" >/dev/null; then
  echo "$clang_format not found; bash scripts/setup.sh installs it" >&2
  exit 2
fi

cd "$root"
mapfile -d '' files < <(find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
if ! $check; then
  "$clang_format" -i --style=file "${files[@]}"
  exit 0
fi
unformatted=0
for file in "${files[@]}"; do
  if ! "$clang_format" --style=file "$file" | cmp -s - "$file"; then
    echo "$file"
    unformatted=1
  fi
done
exit "$unformatted"
