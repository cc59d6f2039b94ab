#!/usr/bin/env python3
"""Writes discharge/observed.txt: the "observed" discharge at the outlet.

The example has no real gauge, so its observation is the model itself with
another parameter set (a slower recession, more transmissive soils, a longer
direct-runoff store and a faster snowmelt) plus 8 % of multiplicative noise:
the efficiency block of qrout.stat then has something to compare. The
script runs velmo on a copy of the example in a temporary directory.

usage: make_observed.py [path of the velmo binary]   (default: build/release/velmo)
"""

import math
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.dirname(HERE)
ROOT = os.path.dirname(EXAMPLE)

# The other parameter set: each line of the example's control file that
# starts with the text on the left is replaced by the text on the right.
OTHER_PARAMETERS = {
    "0.025   0.03    0.035   m:": "0.03    0.035   0.04    m: recession parameter",
    "2e-8    3e-8    2.5e-8  Tkorr": "3e-8    4e-8    3.5e-8  Tkorr",
    "2       3       4       k_ELS_QD": "3       4       5       k_ELS_QD",
    "1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0 1.6": "1.8 2.1 2.8 3.4 3.9 4.2 4.4 4.4 3.9 3.2 2.4 1.9",
}
NOISE = 0.08
OUTLET_COLUMN = 3  # subbasin 3, the third value column of qrout.stat


def other_control(text):
    lines = []
    for line in text.splitlines():
        for start, replacement in OTHER_PARAMETERS.items():
            if line.startswith(start):
                line = replacement
        lines.append(line)
    changed = "\n".join(lines) + "\n"
    if changed.count("\n") != text.count("\n") or sum(r in changed for r in OTHER_PARAMETERS.values()) != 4:
        sys.exit("make_observed.py: the example's parameter lines have changed; update OTHER_PARAMETERS")
    return changed


def main():
    velmo = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release", "velmo"))
    with tempfile.TemporaryDirectory() as work:
        for folder in ("grids", "meteo", "discharge"):
            shutil.copytree(os.path.join(EXAMPLE, folder), os.path.join(work, folder))
        with open(os.path.join(EXAMPLE, "example.ctl")) as f:
            control = other_control(f.read())
        with open(os.path.join(work, "example.ctl"), "w") as f:
            f.write(control)
        subprocess.run([velmo, "example.ctl"], cwd=work, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(work, "qrout.stat")) as f:
            table = f.read().splitlines()[3:]
    rnd = random.Random(1903)
    lines = ["YY MM DD HH Q3"]
    for row in table:
        fields = row.split()
        if len(fields) < 4 + OUTLET_COLUMN or not fields[0].isdigit():
            break  # the efficiency block follows the rows
        q = float(fields[3 + OUTLET_COLUMN]) * math.exp(rnd.gauss(0.0, NOISE))
        lines.append(" ".join(fields[:4]) + f" {q:.5f}")
    with open(os.path.join(EXAMPLE, "discharge", "observed.txt"), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print(f"{len(lines) - 1} hourly values written to discharge/observed.txt")


if __name__ == "__main__":
    main()
