// Data assimilation: rule blocks and their faults, grid rules with the snow split, the schedule of list
// records, reservoir and lake rules in both list formats.
#include "routing/dataassim.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "routing/reservoir.h"
#include "routing/routing_description.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr double kNodata = -9999.0;
// Four header items of four words and a value, after a line of text.
const std::string kListHead =
    "observed snow water equivalent\n"
    "number of grid columns 6\n"
    "number of grid rows 1\n"
    "cell size in metres 100\n"
    "unit of the values mm\n";

// How an entry of `level` that begins with `text` stands in the diagnostics file.
std::string Entry(int level, const std::string& text) {
  return "<line level=\"" + std::to_string(level) + "\" description= \"" + text;
}

int Count(const std::string& text, const std::string& piece) {
  int count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

class Assimilation : public test::ModuleSettingsTest {
 protected:
  Assimilation() {
    settings_.message_interval = 0;
    settings_.nodata_value = kNodata;
    settings_.cellsize = 100.0;
    settings_.startyear = 2000;
    settings_.startmonth = 1;
    settings_.startday = 1;
    settings_.starthour = 0;
    context_.messages = &stream_;
    context_.outlet_code = 1;
    context_.dt = 60.0;
    context_.output_directory = output_directory_;
  }

  // A domain of one row of zone codes (nodata outside the catchment).
  void Domain(const std::vector<double>& zone) {
    settings_.nrows = settings_.last_row = settings_.first_row = 1;
    settings_.ncols = static_cast<int>(zone.size());
    row_range range{0, -1};
    for (int c = 1; c <= settings_.ncols; ++c) {
      if (zone[static_cast<size_t>(c - 1)] == kNodata) continue;
      if (range.first == 0) range.first = c;
      range.last = c;
    }
    ranges_.assign(2, range);
    settings_.row_ranges = ranges_.data();
    Put("[zone_grid]", {zone});
  }
  // Registers a grid of the domain in the first free entry.
  double** Put(const std::string& name, const test::Rows& rows) {
    matrices_.push_back(test::MatrixOf(rows));
    grid_entry& entry = grids_[grids_.FirstFreeEntry()];
    entry.name = name;
    entry.data = matrices_.back().get();
    entry.first_row = 1;
    entry.last_row = static_cast<int>(rows.size());
    return entry.data;
  }
  // Frees every entry but the zone grid.
  void KeepOnlyZones() {
    for (int i = 2; i < kGridTableLimit; ++i) grids_[i].SetInitialState();
  }
  // An ASCII grid file of the domain.
  std::string GridFile(const std::string& name, const std::vector<double>& row) {
    std::ostringstream text;
    text << "ncols " << row.size()
         << "\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\nNODATA_value -9999\n";
    for (double v : row) text << v << " ";
    test::WriteFile(dir_ / name, text.str() + "\n");
    return dir_ / name;
  }
  std::string File(const std::string& name, const std::string& text) {
    test::WriteFile(dir_ / name, text);
    return dir_ / name;
  }
  std::string List(const std::string& name, const std::string& records) {
    return File(name, kListHead + records);
  }
  std::string Diag() const { return test::ReadFile(dir_ / "diag.xml"); }

  std::unique_ptr<data_assimilation> Make(int count, const std::string& rules) {
    test::WriteFile(settings_.control_file_name, "[data_assimilation]\n1  flow control\n60  minutes\n" +
                                                     std::to_string(count) + "  rules\n" + rules +
                                                     "\n[other_section]\n1\n");
    return std::make_unique<data_assimilation>(&stream_, settings_, &grids_, reservoirs_);
  }
  static void Step(data_assimilation& model, int hour, int day = 1, int month = 1, int year = 2000) {
    model.RunTimeStep(0, hour, day, month, year);
  }

  // A reservoir of the routing model with its "SP" part.
  SP_class& Reservoir(int code, const std::string& part) {
    const reservoir_part p =
        ParseRoutingDescription("TG 1 (AE = 1, AV = 1) SP " + std::to_string(code) + " " + part)
            .reservoirs.at(0);
    owned_reservoirs_.push_back(std::make_unique<SP_class>(context_, p));
    owned_reservoirs_.back()->SetUp();
    reservoirs_.push_back(owned_reservoirs_.back().get());
    return *owned_reservoirs_.back();
  }

  test::WorkingDirectory in_dir_{dir_.path()};  // a lake's level-volume table goes there
  std::vector<owned_matrix> matrices_;
  reservoir_context context_;
  std::vector<std::unique_ptr<SP_class>> owned_reservoirs_;
  std::vector<SP_class*> reservoirs_;
};

std::string GridRule(const std::string& list, const std::string& options = "") {
  return "grid {\n  grid-ID = snow_storage_total; listfilename = " + list + ";\n" + options + "}\n";
}
std::string SplitOptions(const std::string& glacier, double percentage = 10) {
  std::ostringstream text;
  text << "  options { split-into-liquid-and-solid = true; weighing-by-glacierized-fraction = " << glacier
       << "; default-liquid-percentage = " << percentage << "; }\n";
  return text.str();
}
std::string ReservoirRule(int code, const std::string& list, const std::string& options = "") {
  return "reservoir { lake-ID = " + std::to_string(code) +
         "; AverageWaterTable = 400; listfilename = " + list + ";\n" + options + "}\n";
}

// ============================================================== grid rules

TEST_F(Assimilation, GridRuleReplacesTheTotalAndSplitsIt) {
  Domain({kNodata, 1, 1, 1, 1, 1});
  double** total = Put("snow_storage_total", {{0, 40, 5, 40, 10, 10}});
  double** liquid = Put("snowstorage_liquid", {{0, 10, 5, 0, 2, 3}});
  double** solid = Put("snowstorage_solid", {{0, 30, 0, 40, 8, 7}});
  GridFile("swe.asc", {7, 100, 80, 60, kNodata, -5});
  const std::string list = List("swe.txt", "2000 1 1 1 " + (dir_ / "swe.asc") + "\n");
  auto model = Make(1, GridRule(list, SplitOptions("false")));
  ASSERT_EQ(model->rules.size(), 1u);

  Step(*model, 0);
  EXPECT_EQ(test::RowsOf(total, 1, 6), (test::Rows{{0, 40, 5, 40, 10, 10}}));
  Step(*model, 1);
  // Outside the catchment only the grid itself takes the value; where the new
  // grid has none everything stays; no snow is less than none.
  EXPECT_EQ(test::RowsOf(total, 1, 6), (test::Rows{{7, 100, 80, 60, 10, 0}}));
  EXPECT_EQ(test::RowsOf(liquid, 1, 6), (test::Rows{{0, 25, 8, 0, 2, 0}}));
  EXPECT_EQ(test::RowsOf(solid, 1, 6), (test::Rows{{0, 75, 72, 60, 8, 0}}));
  for (int c = 2; c <= 6; ++c) EXPECT_NEAR(liquid[1][c] + solid[1][c], total[1][c], 1e-12) << c;
  EXPECT_FALSE(model->rules[0]->Pending());
}

TEST_F(Assimilation, GlacierWeightingSplitsBothPairsOnlyWithTheSplit) {
  Domain({1, 1, 1});
  double** total = Put("snow_storage_total", {{0, 0, 0}});
  double** liquid = Put("snowstorage_liquid", {{10, 10, 10}});
  double** solid = Put("snowstorage_solid", {{30, 30, 30}});
  double** glacier_total = Put("TotalSnowStorage_onGlacier", {{20, 20, 20}});
  double** glacier_solid = Put("SolidSnowStorage_onGlacier", {{15, 15, 15}});
  double** glacier_liquid = Put("LiquidSnowStorage_onGlacier", {{5, 5, 5}});
  Put("GlacierizedCells", {{1, 0, 0.4}});
  GridFile("hundred.asc", {100, 100, 100});
  GridFile("fifty.asc", {50, 50, 50});
  const std::string split = List("split.txt", "2000 1 1 1 " + (dir_ / "hundred.asc") + "\n");
  const std::string alone = List("alone.txt", "2000 1 1 2 " + (dir_ / "fifty.asc") + "\n");
  const std::string options =
      "  options { split-into-liquid-and-solid = false; "
      "weighing-by-glacierized-fraction = true; }\n";
  auto model = Make(2, GridRule(split, SplitOptions("true")) + GridRule(alone, options));

  Step(*model, 1);
  EXPECT_EQ(test::RowsOf(liquid, 1, 3), (test::Rows{{0, 25, 25}}));
  EXPECT_EQ(test::RowsOf(solid, 1, 3), (test::Rows{{0, 75, 75}}));
  EXPECT_EQ(test::RowsOf(glacier_liquid, 1, 3), (test::Rows{{25, 0, 25}}));
  EXPECT_EQ(test::RowsOf(glacier_solid, 1, 3), (test::Rows{{75, 0, 75}}));
  EXPECT_EQ(test::RowsOf(glacier_total, 1, 3), (test::Rows{{100, 0, 100}}));
  // Without the split the glacier switch changes no storage.
  Step(*model, 2);
  EXPECT_EQ(test::RowsOf(total, 1, 3), (test::Rows{{50, 50, 50}}));
  EXPECT_EQ(test::RowsOf(liquid, 1, 3), (test::Rows{{0, 25, 25}}));
  EXPECT_EQ(test::RowsOf(glacier_total, 1, 3), (test::Rows{{100, 0, 100}}));
}

TEST_F(Assimilation, RecordsBetweenStepsArePassedOverAndRecordsOfOneDateApplyInOrder) {
  Domain({1, 1});
  double** total = Put("snow_storage_total", {{0, 0}});
  std::string records = "1999 12 31 0 " + (dir_ / "never_read.asc") + "\n";  // before the start
  for (auto [hour, name, row] : {std::tuple{2, "a", std::vector<double>{20, 20}},
                                 {2, "b", {21, kNodata}},
                                 {3, "c", {3, 3}},
                                 {5, "e", {5, 5}},
                                 {6, "f", {6, 6}}})
    records += "2000 1 1 " + std::to_string(hour) + " " + GridFile(std::string(name) + ".asc", row) + "\n";
  const std::string list = List("list.txt", records);
  auto model = Make(1, GridRule(list));

  Step(*model, 0);
  EXPECT_EQ(test::RowsOf(total, 1, 2), (test::Rows{{0, 0}}));
  Step(*model, 2);
  EXPECT_EQ(test::RowsOf(total, 1, 2), (test::Rows{{21, 20}}));
  console_.str("");
  Step(*model, 4);
  EXPECT_EQ(test::RowsOf(total, 1, 2), (test::Rows{{21, 20}}));
  EXPECT_THAT(Diag(),
              HasSubstr(Entry(kWarning, "data assimilation: the record of 2000-01-01 03:00 in " + list +
                                            ", line 9 falls on no step of the model and is passed over")));
  Step(*model, 6);
  EXPECT_EQ(test::RowsOf(total, 1, 2), (test::Rows{{6, 6}}));
  EXPECT_THAT(Diag(), HasSubstr(Entry(
                          kDebug, "data assimilation: record of 2000-01-01 05:00 in " + list + ", line 10")));
  EXPECT_EQ(Count(Diag(), Entry(kWarning, "")), 1);
}

// ============================================================== rule blocks and faults

TEST_F(Assimilation, RuleBlocksEndWhereTheirBracesClose) {
  Domain({1, 1});
  Put("snow_storage_total", {{0, 0}});
  const std::string list = List("list.txt", "");
  const std::string rules = "grid { grid-ID = snow_storage_total; listfilename = " + list +
                            "; }\n"
                            "   grid\n   {\n     grid-ID = snow_storage_total;\n     listfilename = " +
                            list +
                            ";\n   }\n\n"
                            "note { this is no rule }\n";
  auto model = Make(3, rules);
  ASSERT_EQ(model->rules.size(), 2u);
  EXPECT_EQ(model->rules[0]->Type(), "grid");
  EXPECT_EQ(model->rules[1]->Type(), "grid");
  EXPECT_THAT(console_.str(),
              HasSubstr("data assimilation rule 3 of [data_assimilation] starts neither "
                        "with \"grid\" nor with \"reservoir\" and is skipped: note { this is no "
                        "rule }"));
  EXPECT_THAT(Diag(), HasSubstr(Entry(kWarning, "data assimilation rule 3 of [data_assimilation]")));
  // A list without records leaves its rule idle.
  EXPECT_THAT(Diag(), HasSubstr(Entry(kWarning, "data assimilation: the list file " + list +
                                                    " holds no record at or after the start of the model")));
}

// Keys the rule does not know are read by nothing: an "options {" line lost
// or misspelt would leave the rule without its options.
TEST_F(Assimilation, KeysARuleDoesNotKnowAreNamed) {
  Domain({1, 1});
  Put("snow_storage_total", {{0, 0}});
  const std::string list = List("list.txt", "");
  const std::string split = "split-into-liquid-and-solid = false";
  const std::string glacier = "weighing-by-glacierized-fraction = false";
  struct Case {
    std::string options;
    std::vector<std::string> warnings;  // none for a rule of known keys only
  };
  const Case cases[] = {
      {"  options { " + split + "; " + glacier + "; }\n", {}},
      {"  option { " + split + "; }\n",
       {"does not know the key \"split-into-liquid-and-solid\", which is ignored: \"" + split + "\""}},
      {"  " + split + "; " + glacier + ";\n",
       {"key \"split-into-liquid-and-solid\"", "key \"weighing-by-glacierized-fraction\""}},
      {"  options { " + split + "; " + glacier + "; defualt-percentage = 5; }\n",
       {"does not know the key \"defualt-percentage\" in its options, which is ignored"}},
  };
  for (const Case& c : cases) {
    const std::size_t before = Diag().size();
    console_.str("");
    auto model = Make(1, GridRule(list, c.options));
    ASSERT_EQ(model->rules.size(), 1u);
    const std::string warning_entry =
        Entry(kWarning, "rule 1 of [data_assimilation] (grid snow_storage_total) does not know the key");
    EXPECT_EQ(Count(Diag().substr(before), warning_entry), static_cast<int>(c.warnings.size())) << c.options;
    for (const std::string& warning : c.warnings)
      EXPECT_THAT(console_.str(), HasSubstr(warning)) << c.options;
    model->CleanUp();
  }
  // The keys of a reservoir rule.
  Reservoir(1, "(file = r.txt, V0 = 1, A0 = 1, W0 = 400, C0 = 0)");
  auto reservoir = Make(1, ReservoirRule(1, List("levels.txt", ""), "  option { format = bafu; }\n"));
  EXPECT_THAT(console_.str(), HasSubstr("rule 1 of [data_assimilation] (reservoir 1) does not know the key "
                                        "\"format\", which is ignored: \"format = bafu\""));
  reservoir->CleanUp();
}

TEST_F(Assimilation, FaultsOfRulesAndListsNameWhatIsWrong) {
  Domain({1, 1});
  Reservoir(1, "(file = r1.txt, V0 = 1.5e6, A0 = 1e5, W0 = 400, C0 = 0)");
  Reservoir(2, "(file = r2.txt, V0 = 1.5e6, C0 = 0)");
  const std::string list = List("list.txt", "2000 1 1 1 x.asc\n");
  const std::string missing = dir_ / "missing.txt";
  const std::string bad_header = File("bad_header.txt", "title\nnumber of grid columns six\n");
  const std::string bad_date = List("bad_date.txt", "2000 13 1 0 x.asc\n");
  const std::vector<std::string> snow = {"snowstorage_liquid", "snowstorage_solid"};
  const std::string glacier_text =
      " not available as grid in the actual model configuration\nset \"weighing-by-glacierized-fraction\" to "
      "false when glacier model is inactive \n";
  struct Case {
    int count;
    std::string rules;
    std::vector<std::string> grids;  // besides "snow_storage_total"
    int code;
    std::string message;
  };
  const Case cases[] = {
      {1,
       "grid { grid-ID = nosuchgrid; listfilename = " + list + "; }",
       {},
       1210,
       "\n---------------------- error in data assimilation model ------------------- \nentity "
       "nosuchgrid "
       "not available as grid in the actual model configuration\n"
       "-----------------------------------------------------------------------\n"},
      {1, GridRule(list, SplitOptions("false")), {}, 1211, "entity snowstorage_liquid not available"},
      {1,
       GridRule(list, SplitOptions("false")),
       {"snowstorage_liquid"},
       1212,
       "entity snowstorage_solid not"},
      {1, GridRule(list, SplitOptions("true")), snow, 1214,
       "entity TotalSnowStorage_onGlacier" + glacier_text},
      {1,
       GridRule(list, SplitOptions("true")),
       {"snowstorage_liquid", "snowstorage_solid", "TotalSnowStorage_onGlacier"},
       1215,
       "entity SolidSnowStorage_onGlacier" + glacier_text},
      {1,
       GridRule(list, SplitOptions("true")),
       {"snowstorage_liquid", "snowstorage_solid", "TotalSnowStorage_onGlacier",
        "SolidSnowStorage_onGlacier"},
       1216,
       "entity LiquidSnowStorage_onGlacier" + glacier_text},
      {1,
       GridRule(list, SplitOptions("true")),
       {"snowstorage_liquid", "snowstorage_solid", "TotalSnowStorage_onGlacier", "SolidSnowStorage_onGlacier",
        "LiquidSnowStorage_onGlacier"},
       1214,
       "entity GlacierizedCells" + glacier_text},
      {1, GridRule(list, "options { split-into-liquid-and-solid = true; default-liquid-percentage = 10; }"),
       snow, 1299,
       "key \"weighing-by-glacierized-fraction\" not found in the options of rule 1 of [data_assimilation]"},
      {1, GridRule(list, SplitOptions("false", 150)), snow, 1299,
       "default-liquid-percentage = 150 of rule 1 of [data_assimilation] (grid snow_storage_total) lies "
       "outside "
       "0 to 100"},
      {1,
       "grid { grid-ID = snow_storage_total; }",
       {},
       1299,
       "key \"listfilename\" not found in rule 1 of [data_assimilation]"},
      {1,
       GridRule(missing),
       {},
       1200,
       "error opening input list file " + missing +
           " for grid-type data assimilation in entity snow_storage_total"},
      {1,
       GridRule(bad_header),
       {},
       1299,
       "header item 1 of the list file " + bad_header +
           " (line 2) for grid-type data assimilation in entity "
           "snow_storage_total ends in \"six\", not in a number"},
      {1,
       GridRule(bad_date),
       {},
       1205,
       "error reading datetime format in " + bad_date +
           " for grid-type data assimilation in entity "
           "snow_storage_total (line 6: year 2000, month 13, day 1, hour 0 is no date)"},
      {1,
       "grid { grid-ID = snow_storage_total;\n listfilename = " + list + ";\n",
       {},
       1299,
       "ends inside rule 1 of 1, whose braces do not close: grid { grid-ID = snow_storage_total;"},
      {2, GridRule(list), {}, 1299, "the section [data_assimilation] ends before rule 2 of 2"},
      {1,
       ReservoirRule(9, list),
       {},
       1220,
       "reservoir 9 as defined for data assimilation not found in the actual model configuration"},
      {1,
       ReservoirRule(1, list, "options { format = csv; skiprows = 0; }"),
       {},
       1220,
       "for reservoir 1: format csvnot defined \n"},
      {1,
       ReservoirRule(2, list),
       {},
       1220,
       "reservoir 2 as defined for data assimilation has no level-volume"},
      {1,
       ReservoirRule(1, missing),
       {},
       1200,
       "error opening input list file " + missing + " for reservoir-type data assimilation for reservoir 1"},
      {-1, "", {}, 17, "error in control file, number of data-assimilation rules (at least 0) for "},
  };
  for (const Case& c : cases) {
    KeepOnlyZones();
    Put("snow_storage_total", {{0, 0}});
    for (const std::string& name : c.grids) Put(name, {{0, 0}});
    EXPECT_THAT(ExpectCode(
                    c.code, [&] { Make(c.count, c.rules); }, c.rules),
                HasSubstr(c.message))
        << c.rules;
  }
}

// ============================================================== reservoir rules

// A lake of three 100 m cells in a row of four, at 500.0, 500.5 and 501.2 m,
// full at 503 m; the fourth cell is no lake.
class LakeAssimilation : public Assimilation {
 protected:
  LakeAssimilation() {
    Domain({1, 1, 1, 1});
    codes_ = Put("lake_codes", {{1, 1, 1, kNodata}});
    ponding_ = Put("ponding_storage", {{0, 0, 0, 0}});
    lake_.codes = codes_;
    lake_.ponding = ponding_;
    lake_.max_ponding = matrices_.emplace_back(test::MatrixOf({{3000, 2500, 1800, 0}})).get();
    lake_.zones = matrices_.emplace_back(test::MatrixOf({{1, 1, 1, 1}})).get();
    lake_.elevation = matrices_.emplace_back(test::MatrixOf({{500.0, 500.5, 501.2, 510}})).get();
    lake_.nrows = 1;
    lake_.ncols = 4;
    lake_.cellsize = 100.0;
  }
  SP_class& Lake(const std::string& part) {
    context_.lake = &lake_;
    SP_class& lake = Reservoir(1, part);
    context_.lake = nullptr;
    return lake;
  }
  // The lake's water as its cells hold it (m3).
  double PondedVolume() const {
    double sum = 0.0;
    for (int c = 1; c <= 3; ++c) sum += ponding_[1][c] / 1000 * 1e4;
    return sum;
  }

  double** codes_ = nullptr;
  double** ponding_ = nullptr;
  lake_grids lake_;
};

TEST_F(LakeAssimilation, ObservedLevelsSetTheLakeAndItsPonding) {
  SP_class& lake = Lake("(file = lake.txt, V0 = 43000, C0 = 0)");
  const std::string list =
      List("levels.txt", "2000 1 1 1 501.555\n2000 1 1 2 502.0\n2000 1 1 3 -9999\n2000 1 1 4 499.9\n");
  auto model = Make(1, ReservoirRule(1, list));

  Step(*model, 1);
  EXPECT_NEAR(lake.volume, 29650, 1e-6);
  EXPECT_DOUBLE_EQ(lake.level, 501.555);
  EXPECT_NEAR(ponding_[1][1], 1555, 1e-6);
  EXPECT_NEAR(ponding_[1][2], 1055, 1e-6);
  EXPECT_NEAR(ponding_[1][3], 355, 1e-6);
  EXPECT_EQ(ponding_[1][4], 0.0);
  // The cells hold the lake's new volume.
  EXPECT_NEAR(PondedVolume(), lake.volume, 1e-6);
  EXPECT_THAT(Diag(), HasSubstr(Entry(kInfo,
                                      "data assimilation: reservoir 1 on 2000-01-01 01:00: level 502 -&gt; "
                                      "501.555 m, volume 43000 -&gt; 29650 m3")));
  Step(*model, 2);
  EXPECT_NEAR(lake.volume, 43000, 1e-6);
  EXPECT_NEAR(PondedVolume(), lake.volume, 1e-6);
  // No level: the lake stays, and the list goes on.
  Step(*model, 3);
  EXPECT_NEAR(lake.volume, 43000, 1e-6);
  EXPECT_DOUBLE_EQ(lake.level, 502.0);
  console_.str("");
  Step(*model, 4);
  EXPECT_EQ(lake.volume, 0.0);
  EXPECT_EQ(PondedVolume(), 0.0);
  EXPECT_THAT(Diag(), HasSubstr(Entry(kWarning,
                                      "data assimilation: the level 499.9 m of reservoir 1 on "
                                      "2000-01-01 04:00 lies below the bottom of its level-volume "
                                      "relation")));
}

TEST_F(Assimilation, PlainReservoirTakesItsPrismaticVolumeAndTheLaterRuleWins) {
  Domain({1});
  SP_class& reservoir = Reservoir(1, "(file = r.txt, V0 = 1.5e6, A0 = 1e5, W0 = 400, C0 = 0)");
  const std::string first = List("first.txt", "2000 1 1 1 399.80\n2000 1 1\n");
  // A level that is no number is skipped, and the next record of the step applies.
  const std::string second = List("second.txt", "2000 1 1 1 n/a\n2000 1 1 1 399.90\n");
  auto model = Make(2, ReservoirRule(1, first) + ReservoirRule(1, second));
  Step(*model, 1);
  EXPECT_NEAR(reservoir.volume, 1.49e6, 1e-6);
  EXPECT_DOUBLE_EQ(reservoir.level, 399.90);
  EXPECT_THAT(console_.str(), HasSubstr("level 400 -> 399.8 m, volume 1.5e+06 -> 1.48e+06 m3"));
  EXPECT_THAT(console_.str(), HasSubstr("level 399.8 -> 399.9 m, volume 1.48e+06 -> 1.49e+06 m3"));
  EXPECT_THAT(Diag(), HasSubstr(Entry(kWarning, "data assimilation: the last record of " + first +
                                                    ", line 7 is incomplete and not taken")));
  EXPECT_THAT(Diag(), HasSubstr(Entry(kWarning, "data assimilation: the level &quot;n/a&quot; of " + second +
                                                    ", line 6 is no number; the record is skipped")));
}

TEST_F(Assimilation, SkippedRowsTakeOneHourlyLineADay) {
  Domain({1});
  SP_class& reservoir = Reservoir(1, "(file = r.txt, V0 = 1.5e6, A0 = 1e5, W0 = 400, C0 = 0)");
  std::string records;
  for (int day = 1; day <= 3; ++day)
    for (int hour = 0; hour < 24; ++hour)
      records += "2000 1 " + std::to_string(day) + " " + std::to_string(hour) + " " +
                 std::to_string(400 + 0.01 * (24 * (day - 1) + hour)) + "\n";
  const std::string list = List("hourly.txt", records);
  auto model = Make(1, ReservoirRule(1, list, "options { format = velmo; skiprows = 23; }"));
  for (int day = 1; day <= 3; ++day) {
    Step(*model, 0, day);
    EXPECT_NEAR(reservoir.level, 400 + 0.24 * (day - 1), 1e-9) << day;
  }
  EXPECT_THAT(Diag(), Not(HasSubstr(Entry(kWarning, ""))));
}

TEST_F(Assimilation, BafuListsSkipLinesWithoutLevel) {
  Domain({1});
  settings_.startyear = 2023;
  settings_.startmonth = 11;
  settings_.startday = 13;
  SP_class& reservoir = Reservoir(3, "(file = r.txt, V0 = 1e6, A0 = 1e5, W0 = 889, C0 = 0)");
  const std::string head = "2206 Lake gauge, levels in m a.s.l.\nsecond line of head\nthird line of head\n";
  const std::string levels = File("bafu.txt", head +
                                                  "2206 Lake gauge       2023.11.13 06:00    889.000\n"
                                                  "\n"
                                                  "2206 Lake gauge       2023.11.13 07:00\n"
                                                  "2206 Lake gauge       2023.11.13 07:00    889.123\n");
  const std::string old = File("old.txt", head + "2206 Lake gauge       2023.11.12 07:00    889.123\n");
  const std::string bafu = "options { format = bafu; skiprows = 0; }";
  auto model = Make(2, ReservoirRule(3, levels, bafu) + ReservoirRule(3, old, bafu));
  EXPECT_THAT(console_.str(), HasSubstr("the list file " + old + " holds no record at or after the start"));
  Step(*model, 6, 13, 11, 2023);
  EXPECT_NEAR(reservoir.volume, 1e6, 1e-6);
  EXPECT_THAT(Diag(),
              HasSubstr(Entry(kWarning, "data assimilation: line 5 of " + levels +
                                            " ends before its level (columns 40 to 49); it is skipped")));
  EXPECT_THAT(console_.str(), HasSubstr("line 6 of " + levels + " ends before its level"));
  Step(*model, 7, 13, 11, 2023);
  EXPECT_NEAR(reservoir.volume, 1e6 + 0.123 * 1e5, 1e-6);
  EXPECT_DOUBLE_EQ(reservoir.level, 889.123);
}

}  // namespace
}  // namespace velmo
