// A small model domain for tests: a message stream, the grid table and the
// set-up object, with grids made from rows of values (MatrixOf).
//
// A module test starts from the whole set-up of a 3 x 4 catchment of two zones
// with land uses and soil types, and says only what is particular to it:
//
//   test::SmallDomain domain({.section = "[snow_model]\n1\n60\n...",
//                             .inputs = {{"snow_depth", test::Filled(3, 4, 0.0)}}});
//   teilmodellklasse snow(&domain.messages(), domain.settings(), "snow_model", &domain.grids());
//   EXPECT_THAT(domain.console().str(), Not(HasSubstr("FATAL")));
//
// The zone grid, elevation model, land-use and soil-type grids and the
// `inputs` (extra input grids, by name) are listed in a control file with the
// global sections, a day of model time, the land-use and soil tables
// (`tables`) and the module's `section`. The set-up runs its stages on that
// file as in a run, except that the grids come from the rows instead of
// files: tables read, zones ranked, codes replaced by table positions,
// vegetation, cell-size, soil, slope and region grids made. settings() is what
// the model application hands every module; the grid files named in the table
// lie in dir() and exist only where the set-up wrote them.
//
// Tests of the set-up object's own steps switch that off (`set_up = false`):
// the given grids are registered and the row ranges set, and the rest is the
// test's, control file included (kNoDomain: no grids at all).
//
//   class DerivedFixture : public test::SmallDomainTest {
//     DerivedFixture() : SmallDomainTest({.zone = kZone, .elevation = {}, .landuse = {}, .soil = {},
//                                         .set_up = false}) {}
//   };
//   TEST_F(DerivedFixture, ...) { domain.AddGrid("slope_angle", rows); setup.make_Slope_and_Aspect(); }
//
// Module tests whose numbers rest on settings made by hand start from
// ModuleSettingsTest below; tests of the framework from MessagesTest or
// ModelObjectTest (support/test_support.h).
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/memory.h"
#include "setup/defltuzr.h"
#include "setup/settings.h"
#include "support/test_support.h"

namespace velmo::test {

inline constexpr double kNodata = -9999.0;

// Two zones; the corners lie outside the catchment.
inline const Rows kSmallZone = {{kNodata, 1, 1, kNodata}, {1, 1, 2, 2}, {kNodata, 2, 2, kNodata}};
inline const Rows kSmallElevation = {
    {kNodata, 820, 850, kNodata}, {760, 790, 800, 840}, {kNodata, 740, 720, kNodata}};
// Codes of kSmallTables.
inline const Rows kSmallLanduse = {{kNodata, 10, 10, kNodata}, {10, 11, 11, 10}, {kNodata, 10, 11, kNodata}};
inline const Rows kSmallSoil = {{kNodata, 3, 3, kNodata}, {3, 4, 4, 3}, {kNodata, 3, 4, kNodata}};
// Land uses 10 (conifer) and 11 (meadow), soil types 3 (loam) and 4 (sand).
inline constexpr const char* kSmallTables =
    "[landuse_table]\n2\n"
    "10 conifer 0.12 40 100 90 80 70 60 60 70 80 90 100 100 1 120 240 366 4 5 6 7 1.0 1.1 1.2 1.3 "
    "0.9 0.9 0.9 0.9 1.5 1.6 1.7 1.8\n"
    "11 meadow 0.2 50 50 50 60 70 70 70 70 60 50 50 50 1 120 240 366 1 2 3 1 0.01 0.02 0.03 0.01 "
    "0.5 0.8 0.9 0.5 0.1 0.2 0.3 0.1\n\n"
    "[soil_table]\n2\n3 loam 25 35 0.00001 300\n4 sand 10 30 0.0001 100\n";

struct named_grid {
  std::string name;
  Rows values;
};

struct small_domain_options {
  // The module's own section(s), appended to the control file.
  std::string section{};
  // Further input grids, registered by name behind the standard grids before
  // the set-up runs (as if listed in "[standard_grids]").
  std::vector<named_grid> inputs{};
  // "[landuse_table]" and "[soil_table]" (and "[multilayer_landuse]" if
  // wanted), matching the codes of `landuse` and `soil`.
  std::string tables = kSmallTables;
  // The grids; an empty one is not registered. Without a zone grid there is
  // no domain (SetZoneGrid makes one later).
  Rows zone = kSmallZone;
  Rows elevation = kSmallElevation;
  Rows landuse = kSmallLanduse;
  Rows soil = kSmallSoil;
  double cellsize = 100.0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  int timestep = 60;  // minutes
  // Sub-directory of the temporary directory that the grids' file names,
  // and so the files derived from them, lie in.
  std::string grid_directory{};
  // False: the grids are registered and the domain's row ranges set, but no
  // control file is written and none of the set-up's steps runs.
  bool set_up = true;
};

// A set-up object without domain or grids, its steps left to the test.
inline const small_domain_options kNoDomain = {
    .zone = {}, .elevation = {}, .landuse = {}, .soil = {}, .set_up = false};

class SmallDomain {
 public:
  explicit SmallDomain(small_domain_options options = {});
  ~SmallDomain();
  SmallDomain(const SmallDomain&) = delete;
  SmallDomain& operator=(const SmallDomain&) = delete;

  MessageStream& messages() { return capture_.ms; }
  grid_table& grids() { return table_; }
  defaultini& setup() { return setup_; }
  model_settings settings() { return setup_.GetSettings(); }
  // The console transcript so far.
  std::ostringstream& console() { return capture_.console; }
  const TempDir& dir() const { return capture_.dir; }
  // Where the grid file `file` of the domain lies.
  std::string Path(const std::string& file) const;

  // Registers `values` as the grid `name` in the first free entry, under the
  // file name `file` (by default Path(`name`.asc)); an entry after the
  // elevation model counts as one of the set-up's grids.
  double** AddGrid(const std::string& name, const Rows& values, const std::string& file = "");
  // A matrix of `values` that lives as long as the domain (not registered).
  double** Matrix(const Rows& values);
  // A domain-sized matrix of `value`.
  double** Matrix(double value);
  Rows Filled(double value) const { return test::Filled(setup_.nrows, setup_.ncols, value); }

  // Makes `zone` the domain: its size, row ranges (each row's first to last
  // valid cell) and the zone grid of entry 1.
  void SetZoneGrid(const Rows& zone);

 private:
  void SetSize(const Rows& zone);
  void RunSetUp(const small_domain_options& options);

  MessageCapture capture_;
  std::string grid_directory_;
  std::string control_file_;
  grid_table table_;
  int setup_error_ = 0;
  defaultini setup_;
  std::vector<owned_matrix> owned_;
  std::vector<row_range> row_ranges_;
  double cellsize_ = 0.0;
  double xllcorner_ = 0.0;
  double yllcorner_ = 0.0;
};

// For module tests on settings made by hand, without the set-up object: a
// message stream, a grid table and model settings whose control file is
// "control.intern" in the temporary directory; output_directory_ names that
// directory for settings_.DefaultOutputDirectory where a test wants it. The
// test fills in the domain (SmallDomain, where the set-up's own grids and
// tables serve, needs none of that).
class ModuleSettingsTest : public ::testing::Test {
 protected:
  ModuleSettingsTest() { settings_.control_file_name = dir_ / "control.intern"; }

  // Runs `action`, expects it to throw `code`, and returns what the console
  // got meanwhile.
  template <typename F>
  std::string ExpectCode(int code, F action, const std::string& label = {}) {
    return test::ExpectCode(console_, code, action, label);
  }

  TempDir dir_;
  std::ostringstream console_;
  MessageStream stream_{dir_ / "diag.xml", kDebug, console_};
  grid_table grids_{&stream_};
  model_settings settings_;
  std::string output_directory_ = dir_.path().string() + "/";
  std::vector<row_range> ranges_;
};

// A test fixture on a SmallDomain, its parts under the names tests use.
class SmallDomainTest : public ::testing::Test {
 protected:
  explicit SmallDomainTest(small_domain_options options = {}) : domain(std::move(options)) {}

  SmallDomain domain;
  const TempDir& dir = domain.dir();
  std::ostringstream& console = domain.console();
  MessageStream& ms = domain.messages();
  grid_table& table = domain.grids();
  defaultini& setup = domain.setup();

  // Runs `action`, expects it to throw `code`, and returns what the console
  // got meanwhile.
  template <typename F>
  std::string ExpectCode(int code, F action, const std::string& label = {}) {
    return test::ExpectCode(console, code, action, label);
  }
};

}  // namespace velmo::test
