#!/usr/bin/env python3
"""Writes the grids and station files of the example catchment.

A valley of 20 x 15 cells of 100 m draining south, three subbasins one below
the other (1 the head of the valley, 2 its middle, 3 the lower part with the
outlet), meadows on the valley floor and forest on the slopes, and three
stations (Alp, Ridge, Valley) with a month of hourly records, March 2000:
snowfalls, dry frosty days, thaws with rain on snow, sunny spring days that
melt the cover, and a warm storm near the end.

Run from anywhere; the files go to grids/ and meteo/ beside this folder.
Everything is deterministic, so the committed files can be remade exactly.
"""

import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.dirname(HERE)

NCOLS, NROWS, CELL = 20, 15, 100.0
XLL, YLL = 681000.0, 240000.0
NODATA = -9999

# Stations: name, x, y, elevation (m).
STATIONS = [("Alp", 681450.0, 241350.0, 1780.0),
            ("Ridge", 682750.0, 240850.0, 1420.0),
            ("Valley", 682150.0, 240150.0, 940.0)]
LAPSE = -0.0065  # degrees C per m
YEAR, MONTH, DAYS = 2000, 3, 31


def inside(r, c):
    """Cells of the catchment: the raster without its border and corners."""
    if r in (1, NROWS) or c in (1, NCOLS):
        return False
    # The valley narrows towards its outlet at the bottom and its head at the top.
    half_width = 9.3 - 0.1 * abs(r - 7.5) ** 1.7
    if r == NROWS - 1:
        half_width = 4.0
    return abs(c - 10.5) <= half_width


def elevation(r, c):
    axis = 10.5 + 1.2 * math.sin(r / 2.5)  # the valley floor winds a little
    floor = 930.0 + 62.0 * (NROWS - r)
    return round(floor + 30.0 * abs(c - axis) ** 1.25 + 8.0 * math.sin(1.7 * c + r), 1)


def subbasin(r, c):
    if r <= 5:
        return 1
    if r <= 9 or (r == 10 and c > 12):
        return 2
    return 3


def grid_text(values, fmt):
    lines = [f"ncols {NCOLS}", f"nrows {NROWS}", f"xllcorner {XLL:.0f}", f"yllcorner {YLL:.0f}",
             f"cellsize {CELL:.0f}", f"nodata_value {NODATA}"]
    for r in range(1, NROWS + 1):
        row = []
        for c in range(1, NCOLS + 1):
            v = values.get((r, c))
            row.append(str(NODATA) if v is None else fmt(v))
        lines.append(" ".join(row))
    return "\n".join(lines) + "\n"


def neighbours(r, c):
    for dr in (-1, 0, 1):
        for dc in (-1, 0, 1):
            if (dr or dc) and (r + dr, c + dc) in CELLS:
                yield r + dr, c + dc, CELL * math.hypot(dr, dc)


CELLS = [(r, c) for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1) if inside(r, c)]
Z = {cell: elevation(*cell) for cell in CELLS}


def flow_network():
    """Steepest descent from every cell; the lowest cell drains out of the raster."""
    down, slope = {}, {}
    for cell in CELLS:
        best, drop = None, 0.0
        for r, c, d in neighbours(*cell):
            s = (Z[cell] - Z[(r, c)]) / d
            if s > drop:
                best, drop = (r, c), s
        down[cell] = best
        slope[cell] = max(drop, 0.02)
    return down, slope


def topographic_index(down, slope):
    area = {cell: 1.0 for cell in CELLS}
    for cell in sorted(CELLS, key=lambda k: -Z[k]):
        if down[cell]:
            area[down[cell]] += area[cell]
    return {cell: round(math.log(area[cell] * CELL / slope[cell]), 3) for cell in CELLS}


def flow_times(down):
    """Seconds to the outlet of the cell's own subbasin at 0.075 m/s: from 10 minutes to 4 hours."""
    times = {}
    for cell in CELLS:
        length, at = 0.0, cell
        while down[at] and subbasin(*down[at]) == subbasin(*cell):
            nxt = down[at]
            length += CELL * math.hypot(nxt[0] - at[0], nxt[1] - at[1])
            at = nxt
        times[cell] = min(max(600.0, round(length / 0.075 + 600.0, -1)), 14400.0)
    return times


def landuse(r, c):
    z = Z[(r, c)]
    axis = 10.5 + 1.2 * math.sin(r / 2.5)
    return 2 if abs(c - axis) > 2.5 and z < 1750.0 else 1


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", newline="\n") as f:
        f.write(text)


def write_grids():
    down, slope = flow_network()
    ti = topographic_index(down, slope)
    times = flow_times(down)
    use = {cell: landuse(*cell) for cell in CELLS}
    grids = os.path.join(EXAMPLE, "grids")
    write(os.path.join(grids, "elevation.asc"), grid_text(Z, lambda v: f"{v:.1f}"))
    write(os.path.join(grids, "subbasins.asc"), grid_text({k: subbasin(*k) for k in CELLS}, str))
    write(os.path.join(grids, "topo_index.asc"), grid_text(ti, lambda v: f"{v:.3f}"))
    write(os.path.join(grids, "flow_times.asc"), grid_text(times, lambda v: f"{v:.0f}"))
    write(os.path.join(grids, "landuse.asc"), grid_text(use, str))
    write(os.path.join(grids, "albedo.asc"),
          grid_text({k: 0.23 if use[k] == 1 else 0.12 for k in CELLS}, lambda v: f"{v:.2f}"))
    write(os.path.join(grids, "soil.asc"),
          grid_text({k: 1 if use[k] == 1 else 2 for k in CELLS}, str))
    counts = [sum(1 for k in CELLS if subbasin(*k) == s) for s in (1, 2, 3)]
    print(f"{len(CELLS)} cells, subbasins {counts}, "
          f"elevation {min(Z.values()):.0f} to {max(Z.values()):.0f} m, "
          f"flow times {min(times.values()):.0f} to {max(times.values()):.0f} s")


# The weather of each day: mean valley temperature, its daily amplitude,
# precipitation (mm per day at the valley station), cloudiness 0..1, wind (m/s).
DAYS_WEATHER = [
    # 1-3: a cold front with snow down to the valley
    (-1.0, 3.0, 14.0, 0.95, 4.5), (-2.5, 3.0, 18.0, 1.0, 5.0), (-3.5, 4.0, 6.0, 0.8, 3.5),
    # 4-5: dry, clear, hard frost at night
    (-4.0, 9.0, 0.0, 0.1, 1.5), (-2.0, 10.0, 0.0, 0.05, 1.5),
    # 6-8: a warm front, rain on the snow
    (3.0, 4.0, 12.0, 0.9, 5.5), (5.5, 3.0, 22.0, 1.0, 6.0), (4.0, 4.0, 8.0, 0.8, 4.0),
    # 9-11: colder again, snow showers
    (-0.5, 5.0, 7.0, 0.7, 4.0), (-2.0, 5.0, 10.0, 0.8, 3.5), (-3.0, 6.0, 3.0, 0.5, 2.5),
    # 12-14: sunny days that thaw, frosty nights
    (2.0, 12.0, 0.0, 0.1, 1.5), (3.5, 12.0, 0.0, 0.05, 1.5), (4.5, 11.0, 0.0, 0.2, 2.0),
    # 15-17: mild and rainy
    (6.0, 5.0, 9.0, 0.85, 3.0), (6.5, 4.0, 16.0, 0.95, 4.0), (5.0, 5.0, 5.0, 0.7, 3.0),
    # 18-20: a late snowfall
    (0.5, 4.0, 15.0, 0.95, 4.5), (-1.0, 5.0, 11.0, 0.9, 4.0), (0.0, 8.0, 0.0, 0.4, 2.0),
    # 21-24: warm spring days, the cover melts
    (7.0, 12.0, 0.0, 0.1, 1.5), (9.0, 13.0, 0.0, 0.05, 2.0), (10.0, 12.0, 0.0, 0.15, 2.0),
    (9.5, 10.0, 2.0, 0.5, 3.0),
    # 25-26: a warm storm
    (10.5, 5.0, 35.0, 1.0, 7.0), (8.0, 5.0, 20.0, 0.9, 5.0),
    # 27-31: showers and sun
    (7.0, 9.0, 3.0, 0.5, 3.0), (8.0, 10.0, 0.0, 0.3, 2.0), (6.0, 7.0, 6.0, 0.7, 3.5),
    (9.0, 11.0, 0.0, 0.2, 2.0), (11.0, 12.0, 1.0, 0.3, 2.5),
]


def sun_elevation(day_of_year, hour):
    """Sine of the sun's elevation at 47 N, local solar time."""
    lat = math.radians(47.0)
    decl = math.radians(23.44) * math.sin(2.0 * math.pi * (284 + day_of_year) / 365.0)
    omega = math.radians(15.0 * (hour - 12.0))
    return math.sin(lat) * math.sin(decl) + math.cos(lat) * math.cos(decl) * math.cos(omega)


def station_records():
    rnd = random.Random(2100)
    rows = []
    for d, (tmean, amp, psum, cloud, wind) in enumerate(DAYS_WEATHER, start=1):
        # Rain hours: a block of the day around the afternoon, wider on wetter days.
        wet_hours = set()
        if psum > 0.0:
            length = min(24, max(3, int(psum / 1.2)))
            first = rnd.randrange(0, 25 - length)
            wet_hours = set(range(first + 1, first + length + 1))
        weights = {h: 0.6 + rnd.random() for h in wet_hours}
        total = sum(weights.values()) or 1.0
        for h in range(1, 25):
            t = tmean + 0.5 * amp * math.sin(2.0 * math.pi * (h - 9.0) / 24.0) + rnd.gauss(0.0, 0.3)
            p = psum * weights.get(h, 0.0) / total
            sin_e = max(0.0, sun_elevation(60 + d, h - 0.5))
            radiation = 1000.0 * sin_e * (1.0 - 0.75 * cloud) * (0.95 + 0.1 * rnd.random())
            humidity = min(0.99, 0.55 + 0.4 * cloud + (0.15 if p > 0 else 0.0)
                           - 0.08 * math.sin(2.0 * math.pi * (h - 9.0) / 24.0))
            u = max(0.3, wind + rnd.gauss(0.0, 0.6))
            rows.append((d, h, t, p, radiation, humidity, u))
    return rows


def station_file(title, values):
    names = "\t".join(s[0] for s in STATIONS)
    lines = [title,
             "YYYY\tMM\tDD\tHH\t" + "\t".join(f"{s[3]:.0f}" for s in STATIONS),
             "YYYY\tMM\tDD\tHH\t" + "\t".join(f"{s[1]:.0f}" for s in STATIONS),
             "YYYY\tMM\tDD\tHH\t" + "\t".join(f"{s[2]:.0f}" for s in STATIONS),
             "YYYY\tMM\tDD\tHH\t" + names]
    for (d, h), row in values:
        lines.append(f"{YEAR}\t{MONTH}\t{d}\t{h}\t" + "\t".join(row))
    return "\n".join(lines) + "\n"


def write_meteo():
    records = station_records()
    valley = STATIONS[2][3]
    by_station = {"precipitation": [], "temperature": [], "air_humidity": [], "wind_speed": [],
                  "global_radiation": []}
    for d, h, t, p, radiation, humidity, u in records:
        key = (d, h)
        temps, precs, hums, winds, rads = [], [], [], [], []
        for name, _, _, z in STATIONS:
            rise = (z - valley) / 1000.0
            temps.append(f"{t + LAPSE * (z - valley):.1f}")
            precs.append(f"{p * (1.0 + 0.35 * rise):.2f}")
            hums.append(f"{min(0.99, humidity + 0.04 * rise):.2f}")
            winds.append(f"{u * (1.0 + 0.5 * rise):.1f}")
            rads.append(f"{radiation * (1.0 + 0.05 * rise):.0f}")
        by_station["temperature"].append((key, temps))
        by_station["precipitation"].append((key, precs))
        by_station["air_humidity"].append((key, hums))
        by_station["wind_speed"].append((key, winds))
        by_station["global_radiation"].append((key, rads))
    meteo = os.path.join(EXAMPLE, "meteo")
    titles = {
        "precipitation": "precipitation at three stations (mm per hour)",
        "temperature": "air temperature at three stations (degrees C)",
        "air_humidity": "relative air humidity at three stations (1/1)",
        "wind_speed": "wind speed at three stations (m/s)",
        "global_radiation": "global radiation at three stations (Wh/m2 in the hour ending at the time)",
    }
    for name, values in by_station.items():
        write(os.path.join(meteo, name + ".txt"), station_file(titles[name], values))
    valley_sum = sum(r[3] for r in records)
    print(f"{len(records)} hourly records, {valley_sum:.0f} mm at the valley station")


if __name__ == "__main__":
    write_grids()
    write_meteo()
