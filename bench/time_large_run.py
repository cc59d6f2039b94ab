#!/usr/bin/env python3
"""Times the whole program on a large run made from the example.

Makes the run with bench/make_large_run.py (about --cells grid cells, --days
days of hourly steps), then runs velmo on a fresh copy of it --repeat times
and reports for each run: seconds and ns per active cell-step of the set-up,
the passes and the clearing, the peak resident memory and, against the same
run on the example's own raster, the bytes per grid cell.

    python3 bench/time_large_run.py [--cells 500000] [--days 7] [--repeat 3]
        [--velmo build/release/velmo] [--cpu 2] [--dir /tmp/velmo_large_run]

The phases are split at the time each transcript line arrives (the program
flushes its console at every entry): the set-up ends with the last line before
the first progress line ("... 1.3.2000 24. h"), the passes with "end of
simulation reached successfully!", the clearing when the process exits; each
phase in wall-clock seconds and, on the "cpu" line, in the program's CPU
seconds (user and system, read from /proc at the same lines). Peak memory is the process's maximum resident set (getrusage of the child). The
machine's load average is printed beside each run: on a shared machine, repeat
and compare ranges; --cpu pins the runs to one core (taskset).
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_large_run  # noqa: E402

PROGRESS = re.compile(r"\d{1,2}\.\d{1,2}\.\d{4} \d+\. h")
PASSES_END = "end of simulation reached successfully!"
ACTIVE_CELLS = re.compile(r"MPI num cells: (\d+)")
NS = 1e9
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system seconds of a running process so far (from /proc), or None."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    # utime and stime, fields 14 and 15 of the line: 12 and 13 after the name.
    return (int(fields[11]) + int(fields[12])) / TICKS


def run_once(velmo, source, work, cpu):
    """One run on a fresh copy of `source`; the phase times, peak memory and exit code."""
    if os.path.exists(work):
        shutil.rmtree(work)
    shutil.copytree(source, work)
    command = [velmo, "example.ctl"]
    if cpu is not None:
        command = ["taskset", "-c", str(cpu)] + command
    load = os.getloadavg()[0]
    start = time.monotonic()
    process = subprocess.Popen(command, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    setup_end = passes_end = None
    last_before_progress = start
    # CPU seconds at the same lines: on a loaded machine they move less than
    # the wall clock.
    cpu_setup_end = cpu_passes_end = None
    cpu_before_progress = 0.0
    active = None
    # The transcript with the seconds from the start at which each line came.
    with open(os.path.join(work, "transcript.txt"), "wb") as transcript:
        for raw in iter(process.stdout.readline, b""):
            now = time.monotonic()
            cpu_now = cpu_seconds(process.pid)
            transcript.write(f"{now - start:9.3f} ".encode() + raw)
            line = raw.decode("utf-8", "replace")
            if active is None:
                found = ACTIVE_CELLS.search(line)
                if found:
                    active = int(found.group(1))
            if setup_end is None:
                if PROGRESS.search(line):
                    setup_end, cpu_setup_end = last_before_progress, cpu_before_progress
                else:
                    last_before_progress, cpu_before_progress = now, cpu_now
            if passes_end is None and PASSES_END in line:
                passes_end, cpu_passes_end = now, cpu_now
    _, status, usage = os.wait4(process.pid, 0)
    end = time.monotonic()
    process.returncode = os.waitstatus_to_exitcode(status)
    if setup_end is None or passes_end is None:
        sys.exit(f"run in {work} ended with {process.returncode} before its passes ended (see transcript.txt)")
    cpu_total = usage.ru_utime + usage.ru_stime
    split = cpu_setup_end is not None and cpu_passes_end is not None
    return {
        "cpu_setup": cpu_setup_end if split else None,
        "cpu_passes": cpu_passes_end - cpu_setup_end if split else None,
        "cpu_clearing": cpu_total - cpu_passes_end if split else None,
        "setup": setup_end - start,
        "passes": passes_end - setup_end,
        "clearing": end - passes_end,
        "total": end - start,
        "cpu": cpu_total,
        "peak_kib": usage.ru_maxrss,  # KiB on Linux
        "active": active,
        "load": load,
        "code": process.returncode,
    }


def report(runs, size, fixed):
    cell_steps = size["active_cells"] * size["steps"]
    print(f"{size['ncols']} x {size['nrows']} = {size['grid_cells']} grid cells, "
          f"{size['active_cells']} active, {size['steps']} steps: {cell_steps:.4g} active cell-steps")
    print(f"{'run':>3} {'load':>5} {'total s':>8} {'set-up s':>9} {'passes s':>9} {'clear s':>8}"
          f" | ns per active cell-step: {'total':>6} {'set-up':>6} {'passes':>6} {'clear':>6} | {'peak MB':>8}")
    for i, r in enumerate(runs, 1):
        ns = {k: r[k] * NS / cell_steps for k in ("total", "setup", "passes", "clearing")}
        print(f"{i:>3} {r['load']:>5.1f} {r['total']:>8.2f} {r['setup']:>9.2f} {r['passes']:>9.2f}"
              f" {r['clearing']:>8.2f} | {'':24} {ns['total']:>6.0f} {ns['setup']:>6.0f} {ns['passes']:>6.0f}"
              f" {ns['clearing']:>6.0f} | {r['peak_kib'] / 1024:>8.1f}")
        if r["cpu_setup"] is not None:
            cpu = {k: r["cpu_" + k] * NS / cell_steps for k in ("setup", "passes", "clearing")}
            print(f"{'cpu':>9} {r['cpu']:>8.2f} {r['cpu_setup']:>9.2f} {r['cpu_passes']:>9.2f}"
                  f" {r['cpu_clearing']:>8.2f} | {'':24} {r['cpu'] * NS / cell_steps:>6.0f} {cpu['setup']:>6.0f}"
                  f" {cpu['passes']:>6.0f} {cpu['clearing']:>6.0f} |")
    if len(runs) > 1:
        phases = (("total", "total"), ("setup", "set-up"), ("passes", "passes"), ("clearing", "clearing"))
        for clock, prefix in (("wall", ""), ("cpu", "cpu_")):
            for key, label in phases:
                name = "cpu" if clock == "cpu" and key == "total" else prefix + key
                values = [r[name] for r in runs if r.get(name) is not None]
                if values:
                    print(f"{clock:>4} {label:>8}: {min(values):.2f} - {max(values):.2f} s (median"
                          f" {statistics.median(values):.2f}), {min(values) * NS / cell_steps:.0f} -"
                          f" {max(values) * NS / cell_steps:.0f} ns per active cell-step")
    peak = max(r["peak_kib"] for r in runs)
    print(f"peak resident memory {peak / 1024:.1f} MB, {peak * 1024 / size['grid_cells']:.0f} bytes per grid cell"
          f" in all")
    if fixed is not None:
        per_cell = (peak - fixed["peak_kib"]) * 1024 / (size["grid_cells"] - fixed["grid_cells"])
        print(f"the same run on the example's raster ({fixed['grid_cells']} cells) peaks at"
              f" {fixed['peak_kib'] / 1024:.1f} MB: {fixed['peak_kib'] / 1024:.1f} MB + {per_cell:.0f} bytes per"
              f" grid cell")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cells", type=int, default=500000, help="about this many grid cells (default 500000)")
    parser.add_argument("--days", type=int, default=7, help="days of hourly steps, 1 to 31 (default 7)")
    parser.add_argument("--repeat", type=int, default=3, help="runs to time (default 3)")
    parser.add_argument("--velmo", default=os.path.join(os.path.dirname(HERE), "build", "release", "velmo"),
                        help="the program (default build/release/velmo)")
    parser.add_argument("--cpu", type=int, help="pin the runs to this core (taskset)")
    parser.add_argument("--dir", help="working directory (default: a temporary one, removed at the end)")
    parser.add_argument("--keep", action="store_true", help="keep the working directory and the last run's outputs")
    parser.add_argument("--no-fixed", action="store_true",
                        help="skip the run on the example's raster that splits memory into fixed and per-cell parts")
    args = parser.parse_args()
    velmo = os.path.abspath(args.velmo)
    if not os.access(velmo, os.X_OK):
        sys.exit(f"{velmo}: no program there (bash scripts/build.sh release builds it)")

    base = args.dir or tempfile.mkdtemp(prefix="velmo_large_run_")
    try:
        source = os.path.join(base, "input")
        size = make_large_run.make_run(source, args.cells, args.days)
        fixed = None
        if not args.no_fixed:
            small_source = os.path.join(base, "input_small")
            small = make_large_run.make_run(small_source, 1, args.days)
            small_run = run_once(velmo, small_source, os.path.join(base, "run_small"), args.cpu)
            fixed = {"peak_kib": small_run["peak_kib"], "grid_cells": small["grid_cells"]}
        runs = []
        for i in range(args.repeat):
            runs.append(run_once(velmo, source, os.path.join(base, "run"), args.cpu))
            if runs[-1]["active"] != size["active_cells"]:
                print(f"note: the program reports {runs[-1]['active']} active cells", file=sys.stderr)
        print(f"{velmo}, {time.strftime('%Y-%m-%d %H:%M')}, {os.cpu_count()} cores"
              + (f", pinned to core {args.cpu}" if args.cpu is not None else ""))
        report(runs, size, fixed)
        with open(os.path.join(base, "timings.json"), "w") as f:
            json.dump({"size": size, "runs": runs, "fixed": fixed}, f, indent=1)
    finally:
        if not args.keep and not args.dir:
            shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
