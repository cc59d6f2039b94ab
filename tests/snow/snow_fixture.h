// A small domain for snow model tests: a few cells of 100 m, the grids the
// set-up object and the interpolators would register (zones, elevation,
// subbasins, albedo, land use, precipitation, temperature), one meadow land
// use of albedo 0.2, and a "[snow_model]" section whose values a test can
// change before building the module.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "framework/texthelpers.h"
#include "setup/settings.h"
#include "setup/tables.h"
#include "setup/teilmod.h"
#include "snow/snowmod.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo::test {

// The values of "[snow_model]" as text, line by line.
struct snow_section_text {
  std::string flow = "1";
  std::string interval = "60";
  std::string method = "1";
  std::string transzone = "1.0";
  std::string t0r = "0.0";
  std::string t0 = "0.0";
  std::string cwh = "0.1";
  std::string crfr = "0.5";
  std::string ddf = "3";
  std::string c0 = "2";
  std::string c1 = "0.5";
  std::string rmf = "1.0\n3.0";  // RMFMIN, RMFMAX
  std::string albedo = "0.4\n0.9";
  std::string statistics_code = "0";  // of every table
  std::string readgrid = "0";
  std::string total_write_code = "0";
  // Lines 44 to 65, for methods 5 and above.
  std::string snow_temperature_line = "snowtemp.asc   snow pack temperature grid";
  std::string max_deposition_slope = "55";
  std::string max_deposition_factor = "1";
  std::string min_slide_slope = "30";
  std::string slide_mass_fraction = "0.1";
  std::string lw_in = "1";
  std::string lw_out = "1";
  std::string enbal_scaling = "1.0   EnBalScaling";

  std::string Text() const {
    const std::string s = " " + statistics_code + "\n";
    std::string text = "[snow_model]\n" + flow + "   flow control\n" + interval + "   time interval\n" +
                       method + "   method\n" + transzone + "\n" + t0r + "\n" + t0 + "\n" + cwh + "\n" +
                       crfr + "\n" + ddf + "   DDF\n" + c0 + "   c0\n" + c1 + "   c1\n0.01   z0\n" + rmf +
                       "\n" + albedo + "\n";
    text += "rain.asc\n0\nrain.stat" + s + "snow.asc\n0\nsnow.stat" + s + "snowdays.asc\n0\nsnowdays.stat" +
            s + "snowage.asc\n0\nsnowage.stat" + s + "albedo.stat" + s + "outflow.asc\n0\noutflow.stat" + s +
            "melt.asc\n0\nmelt.stat" + s + "solid.asc\n0\nliquid.asc\n0\nstorage.stat" + s + "total.asc\n" +
            total_write_code + "\n" + readgrid + "   readgrid\n";
    if (std::stoi(method) >= 5) {
      text += snow_temperature_line + "\n0\nsnowtemp.stat" + s + "surftemp.asc\n0\nsurftemp.stat" + s;
      text += "input_mass.asc\n0\ninput_mass.stat" + s + "mobile_mass.asc\n0\nmobile_mass.stat" + s;
      text += "deposition.asc\n0\ndeposition.stat" + s;
      for (const std::string* value : {&max_deposition_slope, &max_deposition_factor, &min_slide_slope,
                                       &slide_mass_fraction, &lw_in, &lw_out, &enbal_scaling})
        text += *value + "\n";
    }
    return text;
  }
};

// On the shared module test base (message stream, grid table, settings),
// under the names the snow tests use.
class SnowDomain : public ModuleSettingsTest {
 public:
  SnowDomain() {
    landuse.resize(2);
    landuse[0].code = 1;
    landuse[1].ParsePositional(
        &ms,
        "1 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 "
        "0.03 0.01 0.5 0.8 0.9 0.5 0.1 0.2 0.3 0.1");
    settings.timestep = 60;
    settings.message_interval = 0;
    settings.latitude = 47.0;
    settings.longitude = 8.5;
    settings.reference_meridian = 15.0;
    settings.cellsize = 100.0;
    settings.nodata_value = kNodata;
    settings.WriteAsciiGrids = true;
    settings.landuse_table = landuse.data();
    settings.DefaultOutputDirectory = &output_directory;
    settings.InitialStateDirectory = &output_directory;
    settings.startday = settings.startmonth = 1;
    settings.startyear = 2000;
    settings.endday = 31;
    settings.endmonth = 12;
    settings.endyear = 2000;
    SetDomain(3, 2, {1});
  }

  // A rows x cols domain with these zone codes (one value: all cells) and
  // the grids the other modules would register, each filled with `value`.
  void SetDomain(int cols, int rows, const std::vector<double>& zones,
                 const std::vector<double>& elevation = {500}) {
    for (int i = 1; i < kGridTableLimit; ++i) table[i].SetInitialState();
    owned.clear();
    ncols = cols;
    nrows = rows;
    Register("[zone_grid]", zones);
    Register("[elevation_model]", elevation);
    Register("zonegrid_soilmodel", zones);
    Register("albedo", {0.2});
    Register("landuse1", {1});
    Register("precipitation", {0});
    Register("temperature", {0});

    ranges_.assign(static_cast<size_t>(rows) + 1, row_range{1, cols});
    EXPECT_EQ(
        RankZones(table[1].data, rows, cols, ranges_.data(), kNodata, nullptr, settings.cellsize, ranking),
        zone_ranking_fault::none);
    settings.zone_table = ranking.zones.data();
    settings.zone_code_map = ranking.code_map.data();
    settings.zone_count = ranking.zone_count;
    settings.max_zone_code = ranking.max_code;
    settings.row_ranges = ranges_.data();
    settings.ncols = cols;
    settings.nrows = settings.last_row = rows;
    settings.first_row = 1;
  }

  // A grid in the first free entry (a value per cell, or one for all; cells
  // outside the zone grid hold nodata), or the data of an existing one set
  // to the values.
  double** Register(const std::string& grid_name, const std::vector<double>& values) {
    int index = 1;
    while (table[index].in_use() && table[index].name != grid_name) ++index;
    if (!table[index].in_use()) {
      owned.emplace_back(memory.matrix(1, nrows, 1, ncols, nrows));
      table[index].name = grid_name;
      table[index].file_name = grid_name + ".asc";
      table[index].data = owned.back().get();
    }
    Fill(table[index].data, values);
    return table[index].data;
  }
  void Fill(double** data, const std::vector<double>& values) const {
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c) {
        const double v =
            values.size() == 1 ? values[0] : values[static_cast<size_t>((r - 1) * ncols + c - 1)];
        const bool outside = HasZoneGrid() && table[1].data[r][c] == kNodata;
        data[r][c] = outside && data != table[1].data ? kNodata : v;
      }
  }
  bool HasZoneGrid() const { return table[1].in_use() && table[1].data; }

  double** Grid(const std::string& grid_name) {
    for (int i = 1; i < kGridTableLimit && table[i].in_use(); ++i)
      if (table[i].name == grid_name) return table[i].data;
    ADD_FAILURE() << "no grid " << grid_name;
    return nullptr;
  }
  int EntriesNamed(const std::string& grid_name) const {
    int count = 0;
    for (int i = 1; i < kGridTableLimit; ++i) count += table[i].name == grid_name ? 1 : 0;
    return count;
  }

  // The run steps as the section's interval says.
  void WriteControlFile() {
    int minutes = 0;
    if (ParseNumber(section.interval, minutes) && minutes > 0) settings.timestep = minutes;
    WriteFile(dir / "control.intern", section.Text() + extra_sections);
  }
  std::unique_ptr<schneemodellklasse> Build() {
    WriteControlFile();
    try {
      return std::make_unique<schneemodellklasse>(&ms, settings, &table);
    } catch (ErrorCode code) {
      ADD_FAILURE() << "construction threw " << code << ":\n" << console.str();
      return nullptr;
    }
  }
  // The code the construction throws (0: none).
  int BuildCode() {
    WriteControlFile();
    return ThrownCode([&] { schneemodellklasse snow(&ms, settings, &table); });
  }

  // One step at `date`: both halves.
  static void Step(schneemodellklasse& snow, const model_date& d) {
    snow.RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
    snow.RunGlacierStep(d.minute, d.hour, d.day, d.month, d.year);
  }

  const TempDir& dir = dir_;
  std::string& output_directory = output_directory_;
  std::ostringstream& console = console_;
  MessageStream& ms = stream_;
  grid_table& table = grids_;
  model_settings& settings = settings_;
  memory_handling memory;
  std::vector<owned_matrix> owned;
  std::vector<landuse_table_entry> landuse;
  zone_ranking ranking;
  int ncols = 0;
  int nrows = 0;
  snow_section_text section;
  std::string extra_sections;
};

}  // namespace velmo::test
