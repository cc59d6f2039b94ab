#!/usr/bin/env bash
# The fuzz pass of CI: the seeds checked, then 300 seeded cases spread over
# the readers, on the sanitizer build that `bash scripts/test.sh sanitize`
# leaves in build/sanitize.
# Fails on any crash, sanitizer report, timeout, malformed diagnostics file or
# non-zero exit without a FATAL entry; the report goes to build/fuzz.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
# Seeds that no longer run clean would turn every case into a refusal.
/usr/bin/python3 "$root/tools/fuzz/fuzz.py" --self-check --velmo "$root/build/sanitize/velmo"
exec /usr/bin/python3 "$root/tools/fuzz/fuzz.py" --seed 1 --cases 300 --timeout 60 \
  --velmo "$root/build/sanitize/velmo" --report "$root/build/fuzz" "$@"
