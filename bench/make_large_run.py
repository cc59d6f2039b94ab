#!/usr/bin/env python3
"""Makes a large run from the example: its control file, stations, discharge
and outputs on a finer raster of the same valley.

Every cell of the example's 20 x 15 raster of 100 m becomes k x k cells of
100/k m, so the valley, its stations, subbasin areas, channels and the point
of the special output stay where they are and only the number of cells grows
(k = 41 gives 820 x 615 = 504,300 cells, 351,568 of them in the catchment).
The elevation is interpolated bilinearly between the example's cell centres
(the nearest centre where a neighbour is nodata); codes and the other grids
take the value of the example's cell that holds the new cell. The run starts
on 1 March 2000 at 01:00 as the example does and lasts `days` days of hourly
steps (1 to 31: the example's stations cover March).

    python3 bench/make_large_run.py DIRECTORY [--cells 500000] [--days 7]

writes the run into DIRECTORY (example.ctl, grids/, meteo/, discharge/) and
its size into DIRECTORY/run.json. bench/time_large_run.py makes and times it.
"""

import argparse
import json
import math
import os
import re
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLE = os.path.join(ROOT, "examples")
STEPS_PER_DAY = 24
MARCH_DAYS = 31
# Grids whose values are interpolated; every other grid holds codes or
# per-cell values that are copied from the cell that holds the new cell.
SMOOTH_GRIDS = {"elevation.asc"}


def read_grid(path):
    with open(path) as f:
        words = f.read().split()
    header = {words[i].lower(): float(words[i + 1]) for i in range(0, 12, 2)}
    ncols, nrows = int(header["ncols"]), int(header["nrows"])
    values = words[12:]
    if len(values) != ncols * nrows:
        sys.exit(f"{path}: {len(values)} values, expected {ncols * nrows}")
    rows = [values[r * ncols:(r + 1) * ncols] for r in range(nrows)]
    return header, rows


def nearest_rows(rows, k):
    """Each text value repeated k times along its row, each row k times."""
    out = []
    for row in rows:
        line = " ".join(v for v in row for _ in range(k))
        out.extend([line] * k)
    return out


def smooth_rows(header, rows, k):
    """Bilinear between the centres of the source cells, in two decimals."""
    nodata = header["nodata_value"]
    nrows, ncols = len(rows), len(rows[0])
    grid = [[float(v) for v in row] for row in rows]

    # Source position of the centre of fine cell i (from 0) on an axis of n
    # source cells: the two neighbouring centres, the weight of the second and
    # the source cell that holds it.
    def axis(n):
        weights = []
        for i in range(n * k):
            x = (i + 0.5) / k - 0.5
            lo = min(max(int(math.floor(x)), 0), n - 1)
            hi = min(lo + 1, n - 1)
            weights.append((lo, hi, min(max(x - lo, 0.0), 1.0), i // k))
        return weights

    cols, lines = axis(ncols), []
    for r0, r1, ty, rn in axis(nrows):
        cells = []
        for c0, c1, tx, cn in cols:
            own = grid[rn][cn]
            corners = (grid[r0][c0], grid[r0][c1], grid[r1][c0], grid[r1][c1])
            if own == nodata:
                cells.append(rows[rn][cn])
            elif nodata in corners:
                cells.append(f"{own:.2f}")
            else:
                top = corners[0] + (corners[1] - corners[0]) * tx
                bottom = corners[2] + (corners[3] - corners[2]) * tx
                cells.append(f"{top + (bottom - top) * ty:.2f}")
        lines.append(" ".join(cells))
    return lines


def write_grid(path, header, k, lines):
    ncols, nrows = int(header["ncols"]) * k, int(header["nrows"]) * k
    with open(path, "w", newline="\n") as f:
        f.write(f"ncols {ncols}\nnrows {nrows}\n")
        f.write(f"xllcorner {header['xllcorner']:.17g}\nyllcorner {header['yllcorner']:.17g}\n")
        f.write(f"cellsize {header['cellsize'] / k:.17g}\nnodata_value {header['nodata_value']:.17g}\n")
        f.write("\n".join(lines))
        f.write("\n")


def end_date(days):
    """The example's end keys for a run of `days` days from 1 March 01:00."""
    if days == MARCH_DAYS:
        return 1, 4
    return days + 1, 3


def control_text(days):
    with open(os.path.join(EXAMPLE, "example.ctl")) as f:
        text = f.read()
    day, month = end_date(days)
    text, count = re.subn(r"endday = \d+\nendmonth = \d+", f"endday = {day}\nendmonth = {month}", text)
    if count != 1:
        sys.exit("example.ctl: no 'endday = ... endmonth = ...' pair to set the run's end")
    return text


def scale_for(cells, example_cells):
    return max(1, round(math.sqrt(cells / example_cells)))


def make_run(directory, cells, days):
    if not 1 <= days <= MARCH_DAYS:
        sys.exit(f"--days {days}: the example's stations cover 1 to {MARCH_DAYS} days")
    source_grids = os.path.join(EXAMPLE, "grids")
    names = sorted(n for n in os.listdir(source_grids) if n.endswith(".asc") and ".intern" not in n)
    header, zones = read_grid(os.path.join(source_grids, "subbasins.asc"))
    example_cells = int(header["ncols"]) * int(header["nrows"])
    k = scale_for(cells, example_cells)

    if os.path.exists(directory):
        shutil.rmtree(directory)
    os.makedirs(os.path.join(directory, "grids"))
    for folder in ("meteo", "discharge"):
        shutil.copytree(os.path.join(EXAMPLE, folder), os.path.join(directory, folder))
    with open(os.path.join(directory, "example.ctl"), "w", newline="\n") as f:
        f.write(control_text(days))

    for name in names:
        grid_header, rows = read_grid(os.path.join(source_grids, name))
        lines = smooth_rows(grid_header, rows, k) if name in SMOOTH_GRIDS else nearest_rows(rows, k)
        write_grid(os.path.join(directory, "grids", name), grid_header, k, lines)

    nodata = header["nodata_value"]
    active = sum(1 for row in zones for v in row if float(v) != nodata) * k * k
    size = {
        "scale": k,
        "ncols": int(header["ncols"]) * k,
        "nrows": int(header["nrows"]) * k,
        "grid_cells": example_cells * k * k,
        "active_cells": active,
        "days": days,
        "steps": days * STEPS_PER_DAY,
        "control": "example.ctl",
    }
    with open(os.path.join(directory, "run.json"), "w") as f:
        json.dump(size, f, indent=1)
    return size


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("directory", help="where the run is written (replaced when it exists)")
    parser.add_argument("--cells", type=int, default=500000, help="about this many grid cells (default 500000)")
    parser.add_argument("--days", type=int, default=7, help="days of hourly steps, 1 to 31 (default 7)")
    args = parser.parse_args()
    size = make_run(args.directory, args.cells, args.days)
    print(f"{size['ncols']} x {size['nrows']} = {size['grid_cells']} cells "
          f"({size['active_cells']} in the catchment), {size['steps']} steps, in {args.directory}")


if __name__ == "__main__":
    main()
