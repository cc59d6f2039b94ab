#!/usr/bin/python3
"""Makes the seed folders of the fuzz pass (tools/fuzz/seeds) from examples/
and tests/data, made small. Run once when a seed has to change; the fuzz pass
only reads the committed folders, so that a case id keeps its meaning.

    /usr/bin/python3 tools/fuzz/make_seeds.py --velmo build/release/velmo

velmo makes the warm-start seed's state file and grids; ncgen (netcdf-bin)
the netCDF grids. Each folder gets a "seed.cfg": the control file and the
inputs the pass mutates, each with the reader that takes it.
"""

import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SEEDS = ROOT / "tools" / "fuzz" / "seeds"
DATA = ROOT / "tests" / "data"


def edit(path, old, new, count=1):
    text = path.read_text()
    if text.count(old) < 1:
        sys.exit(f"{path}: {old!r} not found")
    path.write_text(text.replace(old, new, count))


def head_lines(path, lines):
    kept = path.read_text().splitlines(keepends=True)[:lines]
    path.write_text("".join(kept))


def write_cfg(folder, control, entries):
    lines = [f"control {control}"]
    for kind, name, reader in entries:
        lines.append(f"{kind} {name} {reader}")
    (folder / "seed.cfg").write_text(
        "# <kind> <file> <reader>: the control file (mutated section by section) and\n"
        "# the inputs a case may damage, text or binary.\n" + "\n".join(lines) + "\n")


def ascii_grid(ncols, nrows, xll, yll, cell, values):
    text = f"ncols {ncols}\nnrows {nrows}\nxllcorner {xll}\nyllcorner {yll}\ncellsize {cell}\nnodata_value -9999\n"
    for r in range(nrows):
        text += " ".join(f"{v:g}" for v in values[r * ncols:(r + 1) * ncols]) + "\n"
    return text


def binary_grid(ncols, nrows, xll, yll, cell, values, fmt):
    valid = [v for v in values if v != -9999]
    mean = sum(valid) / len(valid)
    sd = math.sqrt(sum((v - mean) ** 2 for v in valid) / len(valid))
    header = [ncols, nrows, xll, yll, cell, -9999, len(valid), min(valid), max(valid), sum(valid), mean, sd]
    return struct.pack(f"<{12 + len(values)}{fmt}", *header, *values)


def gif(width, height, indices):
    """A GIF of 256 grey levels whose LZW stream never grows its code width:
    a clear code every 254 codes keeps every code at 9 bits."""
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0))
    out += bytes(v for i in range(256) for v in (i, i, i))
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x08"
    codes = []
    for k, index in enumerate(indices):
        if k % 254 == 0:
            codes.append(256)
        codes.append(index)
    codes.append(257)
    bits, nbits, stream = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += 9
        while nbits >= 8:
            stream.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        stream.append(bits & 0xFF)
    for at in range(0, len(stream), 255):
        block = stream[at:at + 255]
        out += bytes([len(block)]) + block
    return bytes(out + b"\x00\x3b")


def netcdf(path, kind, variable, ncols, nrows, xll, yll, cell, records, packed):
    """A grid file as the reader takes it: (t, x, y) in record order."""
    typ = "short" if packed else "double"
    attrs = f'  {typ} {variable}(t, x, y) ;\n    {variable}:missing_value = -9999{"s" if packed else "."} ;\n'
    if packed:
        attrs += f"    {variable}:scale_factor = 0.01 ;\n    {variable}:add_offset = 0. ;\n"
    if kind == "nc4":
        attrs += f"    {variable}:_DeflateLevel = 3 ;\n"
    data = []
    for values in records:
        # values row by row from the north; record order is column-major
        for c in range(ncols):
            for r in range(nrows):
                v = values[r * ncols + c]
                data.append(str(int(round(v / 0.01))) if packed and v != -9999 else
                            ("-9999" if v == -9999 else repr(float(v))))
    cdl = (f"netcdf grid {{\ndimensions:\n  x = {ncols} ;\n  y = {nrows} ;\n  t = UNLIMITED ;\n"
           f"variables:\n  double x(x) ;\n  double y(y) ;\n  double t(t) ;\n{attrs}"
           f"data:\n  x = {', '.join(str(xll + c * cell) for c in range(ncols))} ;\n"
           f"  y = {', '.join(str(yll + (nrows - 1 - r) * cell) for r in range(nrows))} ;\n"
           f"  t = {', '.join(str(k) for k in range(len(records)))} ;\n"
           f"  {variable} = {', '.join(data)} ;\n}}\n")
    with tempfile.NamedTemporaryFile("w", suffix=".cdl", delete=False) as f:
        f.write(cdl)
    try:
        subprocess.run(["ncgen", "-k", kind, "-o", str(path), f.name], check=True)
    finally:
        os.unlink(f.name)


def fresh(name):
    folder = SEEDS / name
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    return folder


def copy_data(folder, data, names):
    for name in names:
        shutil.copy(DATA / data / name, folder / name)


# ---------------------------------------------------------------- the example and its variants

EXAMPLE_STATIONS = ["precipitation", "temperature", "air_humidity", "wind_speed", "global_radiation"]
EXAMPLE_GRIDS = ["elevation", "subbasins", "flow_times", "topo_index", "landuse", "albedo", "soil"]


def example(name):
    """The example, 1 March 01:00 to 3 March 00:00, its station and observed
    files cut to those days."""
    folder = fresh(name)
    for part in ["example.ctl", "grids", "meteo", "discharge"]:
        source = ROOT / "examples" / part
        (shutil.copytree if source.is_dir() else shutil.copy)(source, folder / part)
    edit(folder / "example.ctl", "endday = 1\nendmonth = 4", "endday = 3\nendmonth = 3")
    for station in EXAMPLE_STATIONS:
        head_lines(folder / "meteo" / f"{station}.txt", 5 + 50)
    head_lines(folder / "discharge" / "observed.txt", 1 + 50)
    return folder


def example_entries():
    return ([("text", f"meteo/{s}.txt", "station file") for s in EXAMPLE_STATIONS] +
            [("text", "discharge/observed.txt", "observed discharge")] +
            [("text", f"grids/{g}.asc", "ascii grid") for g in EXAMPLE_GRIDS])


def seed_example():
    folder = example("example")
    write_cfg(folder, "example.ctl", example_entries())


def seed_warmstart(velmo):
    """The example's second day started from the state the first day left:
    the state file (routing, soil and snow blocks) and the state grids as
    binary doubles."""
    folder = example("warmstart")
    ctl = folder / "example.ctl"
    edit(ctl, "WriteAsciiGrids = 1", "WriteDoubleGrids = 1")
    edit(ctl, "1       method: Penman-Monteith", "2       method: Hamon")
    state_grids = ["sd.asc  saturation deficit", "suz.asc drainage storage", "sif.asc interflow storage",
                   "sbia.asc inactive soil moisture", "nfkia.asc inactive field capacity",
                   "ssp.asc saturated soil partition"]
    for grid in state_grids:
        edit(ctl, grid + "\n0       write code", grid + "\n3       at the end")
    edit(ctl, "starts at 0.8\n0       write code", "starts at 0.8\n3       write code: at the end")
    for grid in ["snowdays.asc                snow days grid", "snowage.asc                 snow age grid",
                 "snowsolid.asc               solid storage", "snowliquid.asc              liquid storage"]:
        edit(ctl, grid + "\n0", grid + "\n3")
    edit(ctl, "snowtotal.asc               whole cover\n4", "snowtotal.asc               whole cover\n3")
    edit(ctl, "si.asc  interception storage\n0       not written", "si.asc  interception storage\n3")
    edit(ctl, "endhour = 0\nendday = 3\nendmonth = 3", "endhour = 23\nendday = 1\nendmonth = 3")
    before = set(p.name for p in folder.iterdir())
    run = subprocess.run([velmo, "example.ctl"], cwd=folder, stdout=subprocess.DEVNULL)
    if run.returncode != 0:
        sys.exit("the first day of the warm-start seed failed")
    edit(ctl, "endhour = 23\nendday = 1\nendmonth = 3", "endhour = 0\nendday = 3\nendmonth = 3")
    edit(ctl, "starthour = 1\nstartday = 1\n", "starthour = 24\nstartday = 1\n")
    edit(ctl, "0       read mode of the stored state: none", "1       read mode: the state grids and file")
    edit(ctl, "0       read code: created from the default value", "1       read code: from its file")
    edit(ctl, "0       readgrid: 1 reads the initial cover", "1       readgrid: 1 reads the initial cover")
    edit(ctl, "0       the stores start empty", "1       the stores from their grids")
    # Keep what the warm start reads: the state file and the grids written at the end.
    read = ["state.ftz", "sd.asc", "suz.asc", "sif.asc", "sbia.asc", "nfkia.asc", "ssp.asc", "soil_storage.asc",
            "snowdays.asc", "snowage.asc", "snowsolid.asc", "snowliquid.asc", "snowtotal.asc", "si.asc",
            "si_Layer_1.asc"]
    for path in list(folder.iterdir()):
        if path.name not in before and path.name not in read:
            path.unlink()
    missing = [name for name in read if not (folder / name).exists()]
    if missing:
        sys.exit(f"the first day of the warm-start seed left no {missing}")
    write_cfg(folder, "example.ctl",
              [("text", "state.ftz", "state file")] +
              [("binary", name, "binary grid") for name in read[1:]] + example_entries()[:1])


def seed_assimilation():
    folder = example("assimilation")
    head = ("observed values\nnumber of grid columns 20\nnumber of grid rows 15\ncell size in metres 100\n"
            "unit of the values mm\n")
    elevation = (folder / "grids" / "elevation.asc").read_text().split()[12:]
    for k, factor in [(1, 0.05), (2, 0.08)]:
        values = [-9999 if float(v) == -9999 else max(0.0, (float(v) - 900) * factor) for v in elevation]
        (folder / f"swe_{k}.asc").write_text(ascii_grid(20, 15, 681000, 240000, 100, values))
    (folder / "swe_list.txt").write_text(head + "2000 3 1 12 swe_1.asc\n2000 3 2 6 swe_2.asc\n")
    (folder / "levels.txt").write_text(head + "2000 3 1 18 1250.5\n2000 3 2 3 1250.2\n")
    bafu_head = "2206 Reservoir gauge, levels in m a.s.l.\nsecond line of head\nthird line of head\n"
    (folder / "levels_bafu.txt").write_text(
        bafu_head + "2206 Reservoir gauge  2000.03.02 07:00    1250.300\n"
        "2206 Reservoir gauge  2000.03.02 12:00    1250.150\n")
    with open(folder / "example.ctl", "a") as ctl:
        ctl.write("\n[data_assimilation]\n1       flow control parameter: on\n60      time interval (minutes)\n"
                  "3       number of data-assimilation rules\n"
                  "grid { grid-ID = snow_storage_total; listfilename = swe_list.txt;\n"
                  "  options { split-into-liquid-and-solid = true; weighing-by-glacierized-fraction = false;"
                  " default-liquid-percentage = 10; } }\n"
                  "reservoir { lake-ID = 1; AverageWaterTable = 1250; listfilename = levels.txt; }\n"
                  "reservoir { lake-ID = 1; AverageWaterTable = 1250; listfilename = levels_bafu.txt;\n"
                  "  options { format = bafu; skiprows = 0; } }\n")
    write_cfg(folder, "example.ctl",
              [("text", "swe_list.txt", "assimilation list"), ("text", "levels.txt", "assimilation list"),
               ("text", "levels_bafu.txt", "assimilation list"), ("text", "swe_1.asc", "ascii grid")])


def seed_reservoirs():
    """Two reservoirs joined by a channel, rules with seasons, caps,
    weekdays and hours, abstractions by rule and from a table, an inflow
    from a table."""
    folder = example("reservoirs")
    ctl = folder / "example.ctl"
    edit(ctl, "   SP 1 (file = reservoir_1.txt, V0 = 2e4, A0 = 1e4, W0 = 1250, C0 = 0, dTmin = 60)\n",
         "   SP 1 (file = reservoir_1.txt, V0 = 2e4, A0 = 1e4, W0 = 1250, C0 = 0, dTmin = 60)\n"
         "   ZL 1 = extern inflow.txt 1 5 (kh = 1, kv = 4, Bm = 2, Bv = 12, Tm = 0.2, Mm = 25, Mv = 12,"
         " I = 0.015, L = 800, AE = 0.2)\n")
    edit(ctl, "Mv = 12, I = 0.01, L = 1200, AE = 1.43)\n",
         "Mv = 12, I = 0.01, L = 1200, AE = 1.43)\n"
         "   AL 2 = extern_with_rule abstraction_2.txt\n"
         "   AL 3 = from_file (input_file = abstractions.txt, column = 5, file = abstraction_3.txt)\n"
         "   SP 2 (file = reservoir_2.txt, V0 = 5e4, A0 = 2e4, W0 = 1100, C0 = 0, UseRunningAvg = 3)\n")
    edit(ctl, "[abstraction_rule_reservoir_1]\n3       rows of stored volume [m3] and outflow [m3/s]\n"
         "0       0\n2e4     0.1\n1e5     3",
         "[abstraction_rule_reservoir_1]\n3 1 60 244   rows, start days of three seasons\n"
         "0       0       0       0\n2e4     0.1     0.2     0.1\n1e5     3       4       3\n"
         "TargetCap = 5 -1 5\nWeekDays = 1234567 12345 1234567\nstart_hour = 0 6 0\nstop_hour = 23 20 23\n"
         "HydraulicConnection {\n  TargetReservoir = 2\n  ChannelWidth = 5\n  ChannelBottom = 1240\n"
         "  ChannelLength = 500\n  RoughnessCoeff = 30\n}\n\n"
         "[abstraction_rule_reservoir_2]\n2       rows\n0       0\n1e6     2\n\n"
         "[abstraction_rule_abstraction_2]\n3 1 180\n0 0 0\n0.5 0.05 0.1\n5 0.2 0.3\n")
    hours = [(d, h) for d in (1, 2) for h in range(1, 25)] + [(3, 1)]
    (folder / "inflow.txt").write_text(
        "YY MM DD HH Q1\n" + "".join(f"2000 3 {d} {h} {0.05 + 0.01 * (h % 5):.2f}\n" for d, h in hours))
    (folder / "abstractions.txt").write_text(
        "YY MM DD HH Q\n" + "".join(f"2000 3 {d} {h} {0.002 * (h % 3):.3f}\n" for d, h in hours))
    write_cfg(folder, "example.ctl",
              [("text", "inflow.txt", "inflow table"), ("text", "abstractions.txt", "abstraction table")])


def seed_glacier():
    """Dynamic glaciers and permafrost, daily steps from 1 October 1999 to
    2 October 2000, one yearly evaluation."""
    folder = fresh("glacier")
    copy_data(folder, "snow", ["glacier.ctl", "zones.asc", "glacier_dem.asc", "glacier_shares.asc",
                               "glacier_codes.asc"])
    ctl = folder / "glacier.ctl"
    edit(ctl, "endday = 30\nendmonth = 9\nendyear = 2001", "endday = 2\nendmonth = 10\nendyear = 2000")
    edit(ctl, "5       the subbasins of the snow model, its land use and albedo, the glaciers",
         "8       the subbasins of the snow model, its land use and albedo, the glaciers, the permafrost\n"
         "thaw.asc ThawCoeffPermaFrost fillcode = 0 readcode = 0 defaultValue = 0.02\n"
         "depth.asc PermafrostThawDepth fillcode = 0 readcode = 0 defaultValue = 0\n"
         "roots.asc root_depth1 fillcode = 0 readcode = 0 defaultValue = 1")
    with open(ctl, "a") as f:
        f.write("\n[permafrost]\n1       method\n10      Min_Snow_Age_Refreeze\n5       Max_SWE_SnowFree\n"
                "thaw.stat 2001  statistics of the thaw depth\n1e-7    reduced k_sat\n")
    head = ("\nYYYY\tMM\tDD\tHH\t1450\t1350\t850\nYYYY\tMM\tDD\tHH\t680250\t682750\t681250\n"
            "YYYY\tMM\tDD\tHH\t242250\t241750\t240250\nYYYY\tMM\tDD\tHH\tAlp\tRidge\tValley\n")
    files = {"precipitation.txt": "precipitation (mm per day)" + head, "temperature.txt": "daily mean" + head,
             "night.txt": "night temperature" + head}
    lengths = [31, 30, 31, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30]
    n = 0
    for m in range(13):
        month = (m + 9) % 12 + 1
        year = 1999 + (1 if m >= 3 else 0)
        for d in range(1, (lengths[m] if m < 12 else 3) + 1):
            valley = 9.0 - 13.0 * math.cos(2.0 * math.pi * (n - 105) / 365.0) + 1.5 * math.sin(n * 1.7)
            p = 8.0 + n % 5 if n % 3 == 0 else 0.0
            files["precipitation.txt"] += f"{year}\t{month}\t{d}\t24\t{p * 1.4:.1f}\t{p * 1.2:.1f}\t{p:.1f}\n"
            for name, t in [("temperature.txt", valley), ("night.txt", valley - 6.0)]:
                files[name] += f"{year}\t{month}\t{d}\t24\t{t - 4:.2f}\t{t - 3.5:.2f}\t{t:.2f}\n"
            n += 1
    for name, text in files.items():
        (folder / name).write_text(text)
    write_cfg(folder, "glacier.ctl",
              [("text", "temperature.txt", "station file"), ("text", "glacier_shares.asc", "ascii grid"),
               ("text", "glacier_codes.asc", "ascii grid")])


# ---------------------------------------------------------------- meteorological seeds

def seed_mesh():
    folder = fresh("mesh")
    copy_data(folder, "meteo", ["mesh.ctl", "mesh.txt", "mesh_square.txt", "low.txt", "regression.txt",
                                "regression.bin", "mesh_zones.asc", "mesh_dem.asc"])
    write_cfg(folder, "mesh.ctl",
              [("text", "mesh.txt", "station file"), ("text", "mesh_square.txt", "station file"),
               ("text", "low.txt", "station file"), ("text", "regression.txt", "regression file"),
               ("binary", "regression.bin", "regression file")])


METEO_RAIN = "1       idw\nrain.txt        station file\nnone            regression file"
GRID_LIST_HEAD = "grid list\nYY MM DD HH 100\nYY MM DD HH 0\nYY MM DD HH 0\nYY MM DD HH grid\n"
GIF_CONVERSION = "8.9e-5 0.0767 127 6e-6 0.098   conversion of GIF palette indices"


def meteo_grid_seed(name, grids):
    """meteo.ctl with the rain read from a grid list; `grids` maps each hour
    1..10 to a file name and its bytes."""
    folder = fresh(name)
    copy_data(folder, "meteo", ["meteo.ctl", "dem.asc", "zones.asc", "temperature.txt"])
    edit(folder / "meteo.ctl", METEO_RAIN, "9       ReadGrid\nlist.txt        grid list\n" + GIF_CONVERSION)
    records = ""
    for hour, (file_name, record, content) in sorted(grids.items()):
        if content is not None:
            (folder / file_name).write_bytes(content) if isinstance(content, bytes) else \
                (folder / file_name).write_text(content)
        records += f"2000 1 1 {hour} {file_name}{record}\n"
    (folder / "list.txt").write_text(GRID_LIST_HEAD + records)
    return folder


def rain(hour):
    return [0.5 * hour, hour, 1.5, -9999, 2.0 + hour, 0.1 * hour]


def seed_gridlist():
    grids = {h: (f"rain_{h:02d}.asc", "", ascii_grid(3, 2, 0, 0, 100, rain(h))) for h in range(1, 11)}
    grids[3] = ("rain_03.dbl", "", binary_grid(3, 2, 0, 0, 100, rain(3), "d"))
    grids[4] = ("rain_04.sgl", "", binary_grid(3, 2, 0, 0, 100, rain(4), "f"))
    grids[6] = ("-9999", "", None)
    folder = meteo_grid_seed("gridlist", grids)
    write_cfg(folder, "meteo.ctl",
              [("text", "list.txt", "grid list"), ("text", "rain_01.asc", "ascii grid"),
               ("text", "rain_07.asc", "ascii grid"), ("binary", "rain_03.dbl", "binary grid"),
               ("binary", "rain_04.sgl", "binary grid"), ("text", "temperature.txt", "station file")])


def seed_rasters():
    indices = lambda h: [20 * h % 250, 40, 60 + h, 255, 100, 127 + h]
    grids = {h: (f"rain_{h:02d}.gif", "", gif(3, 2, indices(h))) for h in (1, 2, 3)}
    grids.update({h: ("rain_classic.nc", f"<rain>{h - 4}", None) for h in (4, 5, 6)})
    grids.update({h: ("rain_nc4.nc", f"<rain>{h - 7}", None) for h in (7, 8, 9, 10)})
    folder = meteo_grid_seed("rasters", grids)
    netcdf(folder / "rain_classic.nc", "classic", "rain", 3, 2, 0, 0, 100, [rain(h) for h in (4, 5, 6)], True)
    netcdf(folder / "rain_nc4.nc", "nc4", "rain", 3, 2, 0, 0, 100, [rain(h) for h in (7, 8, 9, 10)], False)
    write_cfg(folder, "meteo.ctl",
              [("text", "list.txt", "grid list"), ("binary", "rain_01.gif", "gif grid"),
               ("binary", "rain_02.gif", "gif grid"), ("binary", "rain_classic.nc", "netcdf grid"),
               ("binary", "rain_nc4.nc", "netcdf grid")])


def seed_superposition():
    folder = fresh("superposition")
    copy_data(folder, "superposition", ["regional.ctl", "rain.txt", "zones.asc", "dem.asc", "regions.asc"])
    write_cfg(folder, "regional.ctl",
              [("text", "rain.txt", "station file"), ("text", "regions.asc", "ascii grid")])


def seed_precipitation():
    folder = fresh("precipcorr")
    copy_data(folder, "precip", ["precip.ctl", "precipitation.txt", "temperature.txt", "wind.txt", "zones.asc",
                                 "dem.asc"])
    write_cfg(folder, "precip.ctl",
              [("text", "precipitation.txt", "station file"), ("text", "wind.txt", "station file")])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--velmo", default=str(ROOT / "build" / "release" / "velmo"))
    velmo = str(Path(parser.parse_args().velmo).resolve())
    seed_example()
    seed_warmstart(velmo)
    seed_assimilation()
    seed_reservoirs()
    seed_glacier()
    seed_mesh()
    seed_gridlist()
    seed_rasters()
    seed_superposition()
    seed_precipitation()


if __name__ == "__main__":
    main()
