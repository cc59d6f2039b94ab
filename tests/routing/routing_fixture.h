// A routing model on subbasins of our own: a zone table with chosen codes,
// area fractions and total area, a control file with "[output_interval]"
// and "[routing_model]", and a runoff matrix in place of the soil model's.
// The working directory is the test's directory while the fixture lives
// (the w-q tables are written there).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "routing/abfluss.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo::test {

// A channel of the descriptions: the ten values in description order.
inline std::string Channel(const std::string& values) {
  std::istringstream in(values);
  static const char* labels[] = {"kh", "kv", "Bm", "Bv", "Tm", "Mm", "Mv", "I", "L", "AE"};
  std::string text = "(";
  std::string value;
  for (int i = 0; i < 10 && (in >> value); ++i)
    text += std::string(i ? ", " : "") + labels[i] + " = " + value;
  return text + ")";
}
// The fixed-class channel: 3, 3, 10, 50, 5, 30, 20, 0.001, 10000, 50.
inline const std::string kFixedChannel = Channel("3 3 10 50 5 30 20 0.001 10000 50");

struct section_options {
  int flow_control = 1;
  int time_interval = 60;
  std::string wq = "100 100 30 2";  // qmin qmax n S
  std::string statistics = "qstat.txt 2001";
  std::string observed = "observed.txt";
  std::vector<std::string> descriptors;  // lines of "code column" pairs
  int descriptor_count = -1;             // -1: one per line
  int offset = 0;
  std::string descriptions;
  std::string after = "\n[end_of_routing]\n";
};

inline std::string RoutingSection(const section_options& o) {
  std::string text =
      "[routing_model]\n" + std::to_string(o.flow_control) + "  flow control\n" +
      std::to_string(o.time_interval) + "  time interval\n" + o.wq + "  w-q tables\n" + o.statistics +
      "  statistics\n" + o.observed + "  observed\n" +
      std::to_string(o.descriptor_count >= 0 ? o.descriptor_count : static_cast<int>(o.descriptors.size())) +
      "  column descriptors\n";
  for (const std::string& d : o.descriptors) text += d + "\n";
  return text + std::to_string(o.offset) + "  offset\n" + o.descriptions + o.after;
}

class RoutingFixture : public ModuleSettingsTest {
 protected:
  RoutingFixture() {
    settings_.message_interval = 0;
    settings_.nrows = settings_.last_row = 1;
    settings_.ncols = 1;
    settings_.first_row = 1;
    settings_.nodata_value = -9999.0;
    settings_.cellsize = 1000.0;
    ranges_.assign(2, row_range{1, 1});
    settings_.row_ranges = ranges_.data();
    settings_.startyear = 2000;
    settings_.startmonth = 1;
    settings_.startday = 1;
    settings_.starthour = 1;
    settings_.DefaultOutputDirectory = &output_directory_;
    Zones({1, 2}, {0.5, 0.5}, 100.0);
  }

  // Subbasins with `codes` (ascending), their area fractions and the total area.
  void Zones(const std::vector<int>& codes, const std::vector<double>& fractions, double total_area) {
    zones_.assign(1, zone_record{0, 0, 1.0, total_area, 0});
    code_map_.assign(static_cast<size_t>(codes.back()) + 1, 0);
    for (size_t i = 0; i < codes.size(); ++i) {
      zones_.push_back(zone_record{0, 0, static_cast<double>(codes[i]), fractions[i], 0});
      code_map_[static_cast<size_t>(codes[i])] = static_cast<int>(i) + 1;
    }
    subbasins_ =
        subbasin_zones{zones_.data(), code_map_.data(), static_cast<int>(codes.size()), codes.back()};
    runoff_values_.assign(codes.size() + 1, 0.0);
    runoff_rows_[0] = runoff_values_.data();
  }

  // Writes the control file with the unit switch of "[output_interval]" and
  // builds the model.
  std::unique_ptr<abflussmodellklasse> Make(const std::string& section, int unit = 0, int read_mode = 0) {
    WriteFile(settings_.control_file_name,
              "[output_interval]\n0\n0\n" + std::to_string(unit) + "  discharge unit\n0\n" + section);
    return std::make_unique<abflussmodellklasse>(&stream_, settings_, &grids_, subbasins_, read_mode);
  }
  // Hands the runoff matrix over and starts the routing.
  void Link(abflussmodellklasse& model) {
    model.LinkInputGrids(false);
    model.SetSubbasinRunoff(runoff_rows_);
    model.InitializeRouting();
    model.ReadStorageFile("", 0);
    model.SetReady(1);
  }
  // Hourly steps from the start date on.
  void Step(abflussmodellklasse& model, int step) {
    const int hours = settings_.starthour + step - 1;
    model.RunTimeStep(0, hours % 24, settings_.startday + hours / 24, settings_.startmonth,
                      settings_.startyear);
  }
  double& Runoff(int zone) { return runoff_values_[static_cast<size_t>(zone)]; }
  // The statistics table "qstat.txt" and its last line (its last row).
  std::string Statistics() const { return ReadFile(dir_ / "qstat.txt"); }
  std::string LastRow() const {
    const std::string text = Statistics();
    return text.substr(text.find_last_of('\n', text.size() - 2) + 1);
  }

  WorkingDirectory in_dir_{dir_.path()};
  std::vector<zone_record> zones_;
  std::vector<int> code_map_;
  subbasin_zones subbasins_;
  std::vector<double> runoff_values_;
  double* runoff_rows_[1] = {nullptr};
};

}  // namespace velmo::test
