// The main road: hourly passes of the whole model from the station records to
// the discharge at the outlet on 1000 x 1000 cells of 100 m in 100 subbasins,
// with the example's choices: ten stations per variable, inverse-distance
// weighting for precipitation, humidity, wind and radiation, Thiessen with a
// lapse rate for temperature, the radiation correction without shadows,
// Penman-Monteith with one layer, interception and snow method 1, infiltration
// and soil method 1, routing of the subbasins along a comb of channels, the
// example's statistics tables and grids written only at the end of the run.
// The input is written once to a temporary folder (binary grids, station
// files, control file) and the model application reads it as a run would.
//
// CPU time per cell and step of the whole pass ("per_cell_step") and of each
// of its parts (counters, seconds per cell and step). Argument: 1 writes the
// statistics tables, 0 none; the difference is the tables' share.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "app/modappli.h"
#include "framework/diagnostics.h"

namespace velmo {
namespace {

constexpr int kSize = 1000;
constexpr double kCellSize = 100.0;  // m
constexpr double kCells = static_cast<double>(kSize) * kSize;
constexpr int kBlocks = 10;  // subbasins per side, each a square of kBlockCells cells
constexpr int kBlockCells = kSize / kBlocks;
constexpr double kBlockArea = kBlockCells * kCellSize * kBlockCells * kCellSize / 1e6;  // km2
constexpr double kXll = 600000.0;
constexpr double kYll = 200000.0;
constexpr double kNodata = -9999.0;
constexpr int kStations = 10;
constexpr int kDays = 60;  // of hourly records from 1 March 2000 on
constexpr int kFirstMonth = 3;
constexpr int kYear = 2000;
constexpr int kSpareSteps = 48;  // a fresh run once fewer steps than these are left
constexpr int kWarmUpSteps = 2;

// North high, south low, with hills across: 400 to 2600 m.
double Elevation(int r, int c) {
  return 2400.0 - 1800.0 * (r - 1) / (kSize - 1) + 200.0 * std::sin(c * 0.021) * std::cos(r * 0.017);
}

// Subbasin codes 1..100, row by row of blocks from the north-west.
int Subbasin(int r, int c) { return ((r - 1) / kBlockCells) * kBlocks + (c - 1) / kBlockCells + 1; }

double CellX(int c) { return kXll + (c - 0.5) * kCellSize; }
double CellY(int r) { return kYll + (kSize - r + 0.5) * kCellSize; }

// A binary grid of doubles with its twelve header values.
void WriteBinaryGrid(const std::filesystem::path& file, const std::function<double(int, int)>& value) {
  std::vector<double> cells(static_cast<size_t>(kSize) * kSize);
  double low = 1e300, high = -1e300, sum = 0.0, squares = 0.0;
  for (int r = 1; r <= kSize; ++r)
    for (int c = 1; c <= kSize; ++c) {
      const double v = value(r, c);
      cells[static_cast<size_t>(r - 1) * kSize + static_cast<size_t>(c - 1)] = v;
      low = std::min(low, v);
      high = std::max(high, v);
      sum += v;
      squares += v * v;
    }
  const double mean = sum / kCells;
  const std::array<double, 12> header = {
      kSize,  kSize, kXll, kYll, kCellSize, kNodata,
      kCells, low,   high, sum,  mean,      std::sqrt(std::max(0.0, squares / kCells - mean * mean))};
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(header.data()), sizeof(header));
  out.write(reinterpret_cast<const char*>(cells.data()),
            static_cast<std::streamsize>(cells.size() * sizeof(double)));
}

struct station {
  int row = 0;
  int col = 0;
};

std::vector<station> Stations() {
  std::vector<station> s;
  for (int i = 0; i < kStations; ++i) s.push_back({50 + 100 * i, 60 + (i * 373) % 880});
  return s;
}

struct record_date {
  int month = 0;
  int day = 0;
  int hour = 0;
};

std::vector<record_date> RecordDates() {
  std::vector<record_date> dates;
  int month = kFirstMonth, day = 1;
  for (int d = 0; d < kDays; ++d) {
    for (int hour = 1; hour <= 24; ++hour) dates.push_back({month, day, hour});
    const int month_days = month == 3 ? 31 : 30;
    if (++day > month_days) {
      day = 1;
      ++month;
    }
  }
  return dates;
}

// Station value of `variable` for step `step` (from 0) at station `i`: wet
// spells of three days in six, daily cycles of temperature, wind and
// radiation, freezing on the heights and thawing in the valleys.
double StationValue(const std::string& variable, int step, int i, double elevation) {
  const int day = step / 24;
  const int hour = step % 24 + 1;
  const bool wet = day % 6 < 3 && (hour + i) % 7 != 0;
  const double daily = std::sin(2.0 * std::numbers::pi * (hour - 9) / 24.0);
  if (variable == "precipitation") return wet ? 0.3 + 0.4 * ((hour + 2 * i) % 5) : 0.0;
  if (variable == "temperature")
    return 4.0 + 6.0 * daily - 0.0065 * (elevation - 500.0) +
           4.0 * std::sin(2.0 * std::numbers::pi * day / 9.0);
  if (variable == "air_humidity") return std::min(0.98, (wet ? 0.85 : 0.55) - 0.15 * daily + 0.01 * i);
  if (variable == "wind_speed") return 2.5 + 1.5 * std::sin(2.0 * std::numbers::pi * hour / 24.0 + i);
  const double sun = std::sin(std::numbers::pi * (hour - 6) / 14.0);  // global radiation, W/m2
  return hour > 6 && hour < 20 ? 750.0 * sun * (wet ? 0.3 : 1.0) : 0.0;
}

void WriteStationFile(const std::filesystem::path& file, const std::string& variable) {
  const std::vector<station> stations = Stations();
  std::ofstream out(file);
  out << variable << " at ten stations\nYYYY\tMM\tDD\tHH";
  for (const station& s : stations) out << '\t' << std::lround(Elevation(s.row, s.col));
  out << "\nYYYY\tMM\tDD\tHH";
  for (const station& s : stations) out << '\t' << CellX(s.col);
  out << "\nYYYY\tMM\tDD\tHH";
  for (const station& s : stations) out << '\t' << CellY(s.row);
  out << "\nYYYY\tMM\tDD\tHH";
  for (int i = 0; i < kStations; ++i) out << "\tS" << i + 1;
  out << '\n';
  const std::vector<record_date> dates = RecordDates();
  char number[32];
  for (size_t step = 0; step < dates.size(); ++step) {
    out << kYear << '\t' << dates[step].month << '\t' << dates[step].day << '\t' << dates[step].hour;
    for (int i = 0; i < kStations; ++i) {
      const station& s = stations[static_cast<size_t>(i)];
      std::snprintf(number, sizeof number, "%.3f",
                    StationValue(variable, static_cast<int>(step), i, Elevation(s.row, s.col)));
      out << '\t' << number;
    }
    out << '\n';
  }
}

void WriteObservedDischarge(const std::filesystem::path& file) {
  std::ofstream out(file);
  out << "YY MM DD HH Q100\n";
  const std::vector<record_date> dates = RecordDates();
  for (size_t step = 0; step < dates.size(); ++step)
    out << kYear << ' ' << dates[step].month << ' ' << dates[step].day << ' ' << dates[step].hour << ' '
        << 80.0 + 20.0 * std::sin(static_cast<double>(step) / 50.0) << '\n';
}

// Channel values of a reach that drains `area` km2.
std::string Channel(double area) {
  std::ostringstream t;
  t << "(kh = 2, kv = 10, Bm = 15, Bv = 80, Tm = 2, Mm = 30, Mv = 20, I = 0.005, L = 10000, AE = " << area
    << ")";
  return t.str();
}

// Every row of subbasins drains east; the eastern column drains south to
// subbasin 100, each of its outlets taking the row's last reach and the
// column's in one summed channel.
std::string RoutingDescriptions() {
  const auto code = [](int i, int j) { return i * kBlocks + j + 1; };
  const auto upstream = [](int i, int j) {
    return (j < kBlocks - 1 ? j + 1 : kBlocks * (i + 1)) * kBlockArea;
  };
  std::ostringstream t;
  for (int i = 0; i < kBlocks; ++i)
    for (int j = 1; j < kBlocks; ++j) {
      t << "TG " << code(i, j) << " (AE = " << upstream(i, j) << ", AV = 1) ";
      if (j < kBlocks - 1 || i == 0)
        t << "OL " << code(i, j - 1) << ' ' << Channel(upstream(i, j - 1)) << '\n';
      else
        t << "SUMTRIB " << code(i, j - 1) << " & " << code(i - 1, j) << ' '
          << Channel(upstream(i, j - 1) + upstream(i - 1, j)) << '\n';
    }
  return t.str();
}

std::string Interpolation(const std::string& name, int method, const std::string& third_line, int write_code,
                          int table, double lower, double upper) {
  std::ostringstream t;
  t << "[" << name << "]\n"
    << method << "\nmeteo/" << name << ".txt\n"
    << third_line << "\n"
    << name << ".mpr\n"
    << write_code << "\n1.0\n"
    << name << ".stat " << table << "\n999\n2\n1.0\n200000\n0\n1\n"
    << lower << '\n'
    << lower << '\n'
    << upper << '\n'
    << upper << "\n0\n\n";
  return t.str();
}

// The control file; `tables` gives the example's statistics tables their codes.
std::string ControlFile(bool tables) {
  const auto stat = [&](const char* name, int code) {
    return std::string(name) + " " + std::to_string(tables ? code : 0) + "\n";
  };
  constexpr int kEveryStep = 2001;
  constexpr int kDaily = 2024;
  constexpr int kDailySums = 4024;
  constexpr int kAtEnd = 3;  // write code: the grid at the end of the run
  std::ostringstream t;
  t << "[output_interval]\n24\n0\n1\n0\nWriteAsciiGrids = 0\nWriteDoubleGrids = 1\ntimestep = 60\n\n";
  t << "[output_list]\n" << kBlocks * kBlocks << "\n";
  for (int k = 1; k <= kBlocks * kBlocks; ++k) t << k << "\n";
  t << "\n[coordinates]\n47.0\n8.5\n15.0\n0.0\n\n[meteo_data_count]\n5\n\n"
    << "[meteo_names]\nprecipitation\ntemperature\nair_humidity\nwind_speed\nglobal_radiation\n\n";
  t << Interpolation("precipitation", 1, "none", kAtEnd, tables ? kEveryStep : 0, 0, 500)
    << Interpolation("temperature", 12, "-0.0065", kAtEnd, tables ? kDaily : 0, -60, 50)
    << Interpolation("air_humidity", 1, "none", 0, 0, 0, 1)
    << Interpolation("wind_speed", 1, "none", 0, 0, 0, 60)
    << Interpolation("global_radiation", 1, "none", 0, tables ? kDaily : 0, 0, 1500);
  t << "[radiation_correction]\n1\n60\n4\ncorr_temperature.mpr\n0\n1.0\nradiation_correction.mpr\n"
    << kAtEnd << "\nshadow.mpr\n0\n1\n4\n\n";
  t << "[evapotranspiration]\n1\n60\n1\n1 1 1 1 1 1 1 1 1 1 1 1\n0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 0.3 "
       "0.3\n"
    << "1.0\netp.mpr\n"
    << kAtEnd << "\n"
    << stat("etp.stat", kEveryStep) << "etr.mpr\n0\n"
    << stat("etr.stat", kEveryStep) << "evap.mpr\n"
    << kAtEnd
    << "\nevap.stat 0\nevar.mpr\n0\nevar.stat 0\nesnow.mpr\n0\nesnow.stat 0\neip.mpr\n0\neip.stat 0\n"
    << stat("rgex.stat", kDaily)
    << "0.23 0.29 0.28 0.2\n0.072 -0.808 1.749 -0.239\n0.7 0.05\n1000\n4 5 6 7 8 8 9 8 7 6 5 4\n0.6 0.0\n\n"
    << "HamonCorrectionOpenWater = 1.0\n\n";
  t << "[snow_model]\n1\n60\n1\n0.5\n0.0\n0.0\n0.1\n0.5\n1.5 1.8 2.4 3.0 3.5 3.8 4.0 4.0 3.5 2.8 2.0 1.6\n"
    << "2.0\n0.5\n0.01\n1.0\n3.0\n0.4\n0.9\n"
    << "rain.mpr\n0\n"
    << stat("rain.stat", kDaily) << "snowfall.mpr\n0\n"
    << stat("snowfall.stat", kDaily) << "snowdays.mpr\n0\nsnowdays.stat 0\nsnowage.mpr\n0\nsnowage.stat 0\n"
    << "albedo.stat 0\nsnowoutflow.mpr\n"
    << kAtEnd << "\n"
    << stat("snowoutflow.stat", kDailySums) << "snowmelt.mpr\n0\nsnowmelt.stat 0\nsnowsolid.mpr\n"
    << kAtEnd << "\nsnowliquid.mpr\n0\n"
    << stat("snowstorage.stat", kEveryStep) << "snowtotal.mpr\n0\n0\n\n";
  t << "[RegionalSuperposition]\n0\n60\n\n[precipitation_correction]\n0\n0.0\n1.0\n0.0\n1.0\n0.0\n\n";
  t << "[model_time]\nstartminute = 0\nstarthour = 1\nstartday = 1\nstartmonth = " << kFirstMonth
    << "\nstartyear = " << kYear
    << "\nendminute = 0\nendhour = 0\nendday = 30\nendmonth = 4\nendyear = " << kYear << "\n\n";
  t << "[landuse_table]\n2\n"
    << "1 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 0.03 0.01 0.5 0.8 "
       "0.9 "
       "0.5 0.1 0.2 0.3 0.1\n"
    << "2 forest 0.12 80 80 80 90 100 100 100 100 90 80 80 80 1 120 240 366 4 5 6 4 0.8 1.0 1.2 0.8 0.7 0.8 "
       "0.9 0.7 0.8 1.0 1.2 0.8\n\n";
  t << "[soil_table]\n1\n1 loam 25 35 0.00001 300\n\n[zone_grid]\ngrids/subbasins.mpr\n\n"
    << "[elevation_model]\ngrids/elevation.mpr\n\n";
  t << "[standard_grids]\n7\n"
    << "grids/subbasins.mpr zonegrid_soilmodel fillcode = 0\n"
    << "grids/flow_times.mpr flow_times fillcode = 0\n"
    << "grids/topo_index.mpr topographic_faktor fillcode = 0\n"
    << "grids/landuse.mpr landuse fillcode = 0\n"
    << "grids/albedo.mpr albedo fillcode = 0\n"
    << "soil.mpr soil_types fillcode = 0 readcode = 0 defaultValue = 1\n"
    << "lakes.mpr lake_codes fillcode = 0 readcode = 0 defaultValue = -9999\n\n";
  t << "[variable_grids]\n1\nsoil_storage.mpr soil_storage 0 0.6\n0\n0\n\n"
    << "[region_transition_distance]\n2000\n\n[substance_transport]\n0\n\n";
  t << "[special_output]\n1\n60\nnumfiles = 1;\nfile {\n  filename = points.txt;\n  header = elevation;\n"
    << "  entity {\n    ID = [elevation_model];\n    Symbol = elev;\n    Xcoords = " << CellX(500)
    << ";\n    Ycoords = " << CellY(500) << ";\n  }\n}\n\n";
  t << "[soil_model]\n1\n60\n1\n"
    << "sd.mpr\n"
    << kAtEnd << "\nsuz.mpr\n"
    << kAtEnd << "\nsif.mpr\n"
    << kAtEnd << "\nsbia.mpr\n"
    << kAtEnd << "\nnfkia.mpr\n"
    << kAtEnd << "\nssp.mpr\n"
    << kAtEnd << "\nqd.mpr\n"
    << kAtEnd << "\nqi.mpr\n"
    << kAtEnd << "\npeakflow.mpr\n";
  for (const char* table : {"qd", "qi", "qb", "qbb", "qges"})
    t << stat((std::string(table) + ".stat").c_str(), kEveryStep);
  for (const char* table : {"sb", "suz", "sif", "sd"})
    t << stat((std::string(table) + ".stat").c_str(), kDaily);
  t << "1 100\n0.025 0.02\n1e-5 2e-5\n1.0 1.5\n2 1.5\n5 3\n10 8\n200 150\n0.05 0.08\n0 0\n5 3\n0.4 0.5\n"
    << "8 6\n0.6 0.5\n0.2 0.2\n0\nstate.ftz\n\n";
  t << "[infiltration_model]\n1\n60\ninfex.mpr\n"
    << kAtEnd << "\n"
    << stat("infex.stat", kEveryStep) << "infsat.mpr\n"
    << kAtEnd << "\n0.2\n\n[lake_model]\n0\n\n";
  t << "[routing_model]\n1\n60\n1 1000 30 2\n"
    << stat("qrout.stat", kEveryStep) << "discharge/observed.txt\n1\n100 1\n0\n"
    << RoutingDescriptions() << "end of the routing descriptions\n\n";
  t << "[interception_model]\n1\n60\n1\ntf.mpr\n0\n"
    << stat("tf.stat", kEveryStep) << "ei.mpr\n0\n"
    << stat("ei.stat", kDaily) << "si.mpr\n0\n"
    << stat("si.stat", kEveryStep) << "0.2\n0\n";
  return t.str();
}

// The input folder of the runs, written once and removed at the end.
class RoadInput {
 public:
  RoadInput() {
    std::filesystem::create_directories(directory_ / "grids");
    std::filesystem::create_directories(directory_ / "meteo");
    std::filesystem::create_directories(directory_ / "discharge");
    const auto grid = [&](const char* name, const std::function<double(int, int)>& value) {
      WriteBinaryGrid(directory_ / "grids" / name, value);
    };
    grid("subbasins.mpr", [](int r, int c) { return Subbasin(r, c); });
    grid("elevation.mpr", Elevation);
    // Travel time to the subbasin's outlet at its south-east corner: 1 to 4 hours.
    grid("flow_times.mpr", [](int r, int c) {
      const int to_outlet =
          (kBlockCells - 1 - (r - 1) % kBlockCells) + (kBlockCells - 1 - (c - 1) % kBlockCells);
      return 3600.0 + 10800.0 * to_outlet / (2.0 * (kBlockCells - 1));
    });
    grid("topo_index.mpr", [](int r, int c) { return 5.0 + 8.0 * ((r * 7 + c * 11) % 100) / 100.0; });
    grid("landuse.mpr",
         [](int r, int c) { return Elevation(r, c) > 900.0 && Elevation(r, c) < 1800.0 ? 2.0 : 1.0; });
    grid("albedo.mpr",
         [](int r, int c) { return Elevation(r, c) > 900.0 && Elevation(r, c) < 1800.0 ? 0.12 : 0.2; });
    for (const char* variable :
         {"precipitation", "temperature", "air_humidity", "wind_speed", "global_radiation"})
      WriteStationFile(directory_ / "meteo" / (std::string(variable) + ".txt"), variable);
    WriteObservedDischarge(directory_ / "discharge" / "observed.txt");
  }
  ~RoadInput() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  const std::filesystem::path& directory() const { return directory_; }

 private:
  std::filesystem::path directory_ =
      std::filesystem::temp_directory_path() / ("velmo_bench_road_" + std::to_string(getpid()));
};

RoadInput& Input() {
  static RoadInput input;
  return input;
}

// One run of the model application on the input folder, built in the
// folder's run directory for its statistics setting.
class Road {
 public:
  explicit Road(bool tables) : run_directory_(Input().directory() / (tables ? "tables" : "plain")) {
    std::filesystem::create_directories(run_directory_);
    for (const char* folder : {"grids", "meteo", "discharge"}) {
      const auto link = run_directory_ / folder;
      if (!std::filesystem::exists(link))
        std::filesystem::create_directory_symlink(Input().directory() / folder, link);
    }
    std::ofstream(run_directory_ / "road.ctl") << ControlFile(tables);
    previous_directory_ = std::filesystem::current_path();
    std::filesystem::current_path(run_directory_);
    messages_ = std::make_unique<MessageStream>((run_directory_ / "diag.xml").string(), kDebug, console_);
    std::string program = "velmo", control = "road.ctl";
    char* argv[] = {program.data(), control.data(), nullptr};
    application_ = std::make_unique<ModellApplication>(messages_.get(), 2, argv, 1);
    for (int k = 0; k < kWarmUpSteps; ++k) application_->RunPass();
  }
  ~Road() {
    try {
      application_->ClearMemory();
    } catch (...) {
      // The folder goes with the run; nothing of it is read afterwards.
    }
    application_.reset();
    messages_.reset();
    std::filesystem::current_path(previous_directory_);
  }

  ModellApplication& application() { return *application_; }
  int steps_left() const { return kDays * 24 - kWarmUpSteps - steps_taken_; }
  void count_step() { ++steps_taken_; }

 private:
  std::filesystem::path run_directory_;
  std::filesystem::path previous_directory_;
  std::ofstream console_{"/dev/null"};
  std::unique_ptr<MessageStream> messages_;
  std::unique_ptr<ModellApplication> application_;
  int steps_taken_ = 0;
};

// The run of the current setting, kept across repetitions while it has steps
// left.
Road& RoadFor(bool tables) {
  static std::unique_ptr<Road> road;
  static bool road_tables = false;
  if (!road || road_tables != tables || road->steps_left() < kSpareSteps) {
    road.reset();
    road = std::make_unique<Road>(tables);
    road_tables = tables;
  }
  return *road;
}

// Counter name of a part of the pass.
std::string PartName(pass_phase phase, int index, const ModellApplication& application) {
  const auto variable = [&] {
    const auto& names = application.settings.meteo_names;
    return static_cast<size_t>(index) < names.size() ? names[static_cast<size_t>(index)]
                                                     : std::to_string(index);
  };
  switch (phase) {
    case pass_phase::kStationRegressionAndCorrection:
    case pass_phase::kSuperpositionAndGridCorrection:
    case pass_phase::kSuperpositionOutput:
      return "meteo_other";
    case pass_phase::kInterpolation:
    case pass_phase::kInterpolatorOutput:
      return "interp_" + variable();
    case pass_phase::kNextRecord:
      return "records";
    case pass_phase::kSetupUpdate:
    case pass_phase::kSetupOutput:
      return "setup";
    case pass_phase::kAssimilation:
      return "assimilation";
    case pass_phase::kRadiationCorrection:
      return "radiation_corr";
    case pass_phase::kPotentialEvapotranspiration:
      return "pet";
    case pass_phase::kSnowEvaporation:
      return "et_snow_evap";
    case pass_phase::kInterception:
      return "et_interception";
    case pass_phase::kRealEvapotranspiration:
      return "et_real";
    case pass_phase::kSnow:
      return "snow";
    case pass_phase::kSoil:
      return "soil";
    case pass_phase::kRouting:
      return "routing";
    case pass_phase::kSpecialOutput:
      return "special_output";
  }
  return "other";
}

// CPU time of this thread: other processes on the machine do not count.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

void BM_MainRoad(benchmark::State& state) {
  const bool tables = state.range(0) != 0;
  Road& road = RoadFor(tables);
  ModellApplication& application = road.application();
  std::map<std::string, double> seconds;
  double mark = 0.0;
  application.phase_done = [&](pass_phase phase, int index) {
    const double now = ThreadSeconds();
    seconds[PartName(phase, index, application)] += now - mark;
    mark = now;
  };
  for (auto _ : state) {
    if (road.steps_left() <= 0) {
      state.SkipWithError("the run's records are used up");
      break;
    }
    mark = ThreadSeconds();
    application.RunPass();
    road.count_step();
  }
  application.phase_done = nullptr;
  for (const auto& [name, total] : seconds)
    state.counters[name] = benchmark::Counter(total / kCells, benchmark::Counter::kAvgIterations);
  state.counters["per_cell_step"] =
      benchmark::Counter(kCells, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
// CPU time, so that the other work on a shared machine weighs as little as it can.
BENCHMARK(BM_MainRoad)->Arg(0)->Arg(1)->Iterations(24)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmo
