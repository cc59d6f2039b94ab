// The interpolator on a 3 x 2 domain: its section, its construction failures,
// the steps of methods 1, 4, 9 and 12 against the point methods, limits,
// scaling, scenarios, statistics and the end of the data.
#include "meteo/meteoint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "meteo/meteo_fixture.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

using test::MeteoDomain;
using test::ReadFile;
using test::station;
using test::WriteFile;

class Interpolator : public MeteoDomain {
 public:
  // Writes the station file "rain.txt" and a section of method `method`.
  void Setup(int method, const std::vector<station>& stations, const std::string& records,
             const std::string& method_line = "none   regression file\n", const std::string& rest = "",
             const std::string& station_line_tail = "") {
    WriteFile(dir / "rain.txt", StationFile(stations, records));
    WriteControlFile(
        Section("rain", method, dir / "rain.txt" + station_line_tail + "\n" + method_line, rest));
  }
  // The standard section lines 4 onward with some lines replaced: `changes`
  // holds pairs of (line number from 0, text).
  static std::string Rest(std::initializer_list<std::pair<int, std::string>> changes) {
    std::vector<std::string> lines = {"result.asc", "0", "1.0",  "stat.txt 0", "9999", "2",   "1", "100000",
                                      "0",          "1", "-1e9", "-1e9",       "1e9",  "1e9", "0"};
    for (const auto& [at, text] : changes) lines[static_cast<size_t>(at)] = text;
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
  const std::vector<station> three = {{400, 1600, 500}, {2600, 1400, 900}, {1500, 100, 300}};
};

TEST_F(Interpolator, SectionStationsAndHeader) {
  // CR LF line ends.
  std::string text =
      StationFile({{0, 0, 100}, {5000, 0, 200}}, "2000 1 1 1 0 a b 12000 4\n2000 1 1 2 0 a b 1 2\n",
                  "YY MM DD HH mm id flag");
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
    text.insert(at, "\r");
  WriteFile(dir / "rain.txt", text);
  WriteControlFile(
      Section("rain", 1, dir / "rain.txt" + " AdditionalColumns=2 comment\nnone\n", Rest({{7, "10000"}})));
  settings.startminute = 0;
  const auto m = Build();
  EXPECT_EQ(m->Section().max_distance, 1e8);
  EXPECT_EQ(m->WeightCodeInUse(), kSquareWeightCode);
  EXPECT_NE(m->StatisticsHeader().find("weighting =  2.0,  maxentf =    10000"), std::string::npos)
      << m->StatisticsHeader();
  const station_file& file = m->File(0);
  EXPECT_EQ(file.additional_columns, 2);
  EXPECT_TRUE(file.has_minutes);
  ASSERT_EQ(m->GetStationCount(), 2);
  EXPECT_EQ(m->GetStationAltitudes()[2], 200.0);
  EXPECT_EQ(m->GetStationValues()[1], -10000.0);  // 12000 is beyond N = 9999
  EXPECT_EQ(m->GetStationValues()[2], 4.0);
  m->ReadNextRecord();
  EXPECT_EQ(m->GetStationValues()[2], 2.0);
  EXPECT_EQ(table[m->ResultEntry()].name, "rain");
  EXPECT_EQ(table[m->ResultEntry()].data, m->ResultGrid());
  m->CleanUp();
  EXPECT_FALSE(table[6].in_use());
}

TEST_F(Interpolator, ConstructionFailures) {
  const std::string ok = "2000 1 1 1 1 2 3\n";
  struct Case {
    std::string what;
    std::function<void(Interpolator&)> setup;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"start date absent", [&](Interpolator& t) { t.Setup(1, t.three, "2000 1 1 2 1 2 3\n"); }, 51,
       "rain.txt dosnt contain date  1. 1.2000,  1: 0(feof)!"},
      {"station file missing",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok);
         std::filesystem::remove(t.dir / "rain.txt");
       },
       49, "error opening"},
      {"record date unreadable",
       [&](Interpolator& t) { t.Setup(1, t.three, "2000 1 1 1 1 2 3\n2000 1 x 2 1\n"); }, 0, ""},
      {"method 13", [&](Interpolator& t) { t.Setup(13, t.three, ok); }, 53, "(here: 13)\n"},
      {"method 7 on stations that form no mesh",
       [&](Interpolator& t) {
         t.Setup(7, {{0, 0, 100}, {1000, 0, 100}, {0, 1000, 100}}, ok);
       },
       70, "Error converting the station coordinates into a grid"},
      {"method 2 at 30 minutes",
       [&](Interpolator& t) {
         t.settings.timestep = 30;
         t.Setup(2, t.three, ok);
       },
       1302, "does not work for time steps less than one hour"},
      {"method 3 at 30 minutes",
       [&](Interpolator& t) {
         t.settings.timestep = 30;
         t.Setup(3, t.three, ok);
       },
       1302, "does not work for time steps less than one hour"},
      {"ratio 1.2",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok, "none\n", Rest({{9, "1.2"}}));
       },
       54, "ratio of anisotropy has to range from +1 to >0"},
      {"ratio 0",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok, "none\n", Rest({{9, "0"}}));
       },
       54, "ratio of anisotropy has to range from +1 to >0"},
      {"slope 120",
       [&](Interpolator& t) {
         t.Setup(4, t.three, ok, "none\n", Rest({{8, "120"}}));
       },
       54, "anisotropy slope has to range from -90 to +90 degree"},
      {"method-12 line with two values", [&](Interpolator& t) { t.Setup(12, t.three, ok, "-0.0065 1000\n"); },
       49, "required parameter \"lapse rate\""},
      {"method-10 line with four values",
       [&](Interpolator& t) { t.Setup(10, t.three, ok, "100 1000 1 2\n"); }, 49,
       "required 5 or 6 regression parameters"},
      {"method-10 line with U below L",
       [&](Interpolator& t) { t.Setup(10, t.three, ok, "1000 800 100 0 50\n"); }, 49,
       "(the upper inversion 800 lies below the lower inversion 1000)"},
      {"no station file line", [&](Interpolator& t) { t.WriteControlFile("[rain]\n1\n"); }, 49,
       "error reading station data file name nr. 0 for interpolation of rain"},
      {"nodata value not a number",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok, "none\n", Rest({{4, "nan"}}));
       },
       17, "nodata value in ; rainnot found!"},
      {"nodata value beyond the dates' whole numbers",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok, "none\n", Rest({{4, "1e20"}}));
       },
       17, "nodata value in rain lies beyond the whole numbers of the dates: 1e+20"},
      // Numbers read whole: a token that only starts as one is named.
      {"method-12 line with a letter", [&](Interpolator& t) { t.Setup(12, t.three, ok, "-0.0065 1000x\n"); },
       49, "for interpolation of rain\n(\"1000x\" is no finite number)"},
      {"method-10 overlap not whole",
       [&](Interpolator& t) { t.Setup(10, t.three, ok, "100 1000 1 2.5 50\n"); }, 49,
       "(\"2.5\" is no whole number)"},
      {"write code 3,5",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok, "none\n", Rest({{1, "3,5"}}));
       },
       17, "grid write code for result grid in ; rainnot found! (\"3,5\" is no whole number)"},
      {"maximum distance 1e309",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok, "none\n", Rest({{7, "1e309"}}));
       },
       17, "maximum distance in ; rainnot found! (\"1e309\" is no finite number)"},
      {"section missing", [&](Interpolator& t) { t.WriteControlFile("[snow]\n"); }, 17,
       "[rain]; (EOF)not found!"},
      {"no RelCellArea",
       [&](Interpolator& t) {
         t.Setup(1, t.three, ok);
         t.table[3].name = "SomethingElse";
       },
       74, "no longer works without a RelCellArea-Grid"},
  };
  for (const Case& c : cases) {
    c.setup(*this);
    if (c.code == 0) {
      // Read with the first block after the start record: the line is named.
      auto m = Build();
      EXPECT_EQ(test::ThrownCode([&] { m->ReadNextRecord(); }), kReadErrorCode);
      EXPECT_NE(console.str().find("read error in " + dir / "rain.txt" + ", line 7"), std::string::npos)
          << console.str();
      m->CleanUp();
    } else {
      EXPECT_EQ(BuildCode(), c.code) << c.what;
      EXPECT_NE(console.str().find(c.message), std::string::npos) << c.what << "\n" << console.str();
    }
    console.str("");
    settings.timestep = 60;
    // The domain's table for the next case.
    table[3].name = "RelCellArea";
    for (int i = 6; i < 12; ++i) table[i].SetInitialState();
  }
}

// Every cell of the step equals the point method computed directly.
TEST_F(Interpolator, StepsEqualTheDirectComputation) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-2000, 5000), value(-5, 30);
  std::vector<station> stations;
  for (int i = 0; i < 9; ++i)
    stations.push_back({coordinate(random), coordinate(random), value(random) * 50});
  std::string records;
  for (int hour = 1; hour <= 3; ++hour) {
    records += "2000 1 1 " + std::to_string(hour);
    for (int i = 0; i < 9; ++i) records += " " + Number(hour == 2 && i % 3 == 0 ? -99999 : value(random));
    records += "\n";
  }
  struct Case {
    int method;
    std::string method_line;
    std::string ratio;
  };
  for (const Case& c : {Case{1, "none\n", "1"}, Case{1, "none\n", "0.5"}, Case{4, "none\n", "1"},
                        Case{12, "-0.0065 400 0.003 P-type\n", "1"}}) {
    Setup(c.method, stations, records, c.method_line, Rest({{7, "2500"}, {8, "20"}, {9, c.ratio}}));
    auto m = Build();
    EXPECT_EQ(FindGridIndex("CoordXRot_rain") > 0, c.ratio != "1") << c.method;
    for (int step = 1; step <= 3; ++step) {
      Step(*m);
      double** grid = m->ResultGrid();
      for (int r = 1; r <= test::kRows; ++r)
        for (int c2 = 1; c2 <= test::kColumns; ++c2) {
          const double x = (c2 - 0.5) * test::kCell, y = (test::kRows - r + 0.5) * test::kCell;
          double expected = 0.0;
          std::vector<double> scratch(10);
          if (c.method == 1) {
            expected = m->InterpolateAtPoint(scratch.data(), x, y, 0.0);
          } else if (c.method == 4) {
            expected = m->Thiessen(0, x, y, scratch.data());
          } else {
            expected = ThiessenLapseRate(m->File(0).Arrays(), x, y, table[2].data[r][c2], -0.0065, 400, 0.003,
                                         true, 9999);
          }
          EXPECT_EQ(grid[r][c2], expected) << "method " << c.method << " ratio " << c.ratio << " step "
                                           << step << " cell " << r << "," << c2;
        }
      m->ReadNextRecord();
    }
    m->CleanUp();
  }
}

TEST_F(Interpolator, VariablesWithTheSameCellsStationsAndWeightingShareTheirWeights) {
  const std::string records = "2000 1 1 1 4 8 16\n2000 1 1 2 5 -99999 7\n";
  auto pool = std::make_shared<interpolator_pool>();
  Setup(1, three, records, "none\n", Rest({{7, "2500"}}));
  auto first = Build();
  first->ShareThrough(pool);
  Step(*first);
  ASSERT_NE(first->WeightCache(), nullptr);
  struct Case {
    const char* what;
    std::string rest;
    bool shared;
  };
  const Case cases[] = {
      {"the same section", Rest({{7, "2500"}}), true},
      {"another power", Rest({{5, "3"}, {7, "2500"}}), false},
      {"another maximum distance", Rest({{7, "2000"}}), false},
      {"anisotropic", Rest({{7, "2500"}, {9, "0.5"}}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Setup(1, three, records, "none\n", c.rest);
    auto pooled = Build();
    pooled->ShareThrough(pool);
    auto alone = Build();
    for (int step = 1; step <= 2; ++step) {
      Step(*pooled);
      Step(*alone);
      EXPECT_EQ(pooled->WeightCache() == first->WeightCache(), c.shared);
      EXPECT_NE(alone->WeightCache(), first->WeightCache());
      // The same domain: one list of cells, whatever the weighting.
      EXPECT_EQ(pooled->Cells(), first->Cells());
      EXPECT_NE(alone->Cells(), first->Cells());
      for (int r = 1; r <= test::kRows; ++r)
        for (int col = 1; col <= test::kColumns; ++col)
          EXPECT_EQ(pooled->ResultGrid()[r][col], alone->ResultGrid()[r][col])
              << step << ": " << r << "," << col;
      pooled->ReadNextRecord();
      alone->ReadNextRecord();
    }
    pooled->CleanUp();
    alone->CleanUp();
  }
  first->CleanUp();
}

TEST_F(Interpolator, LimitsAndTheMissingMarker) {
  // Thiessen: the west column takes -3, the east one 1200; limits 0, 0,
  // 1000, 1000 in file order.
  Setup(4, {{0, 1000, 0}, {3000, 1000, 0}}, "2000 1 1 1 -3 1200\n", "none\n",
        Rest({{10, "0"}, {11, "0"}, {12, "1000"}, {13, "1000"}}));
  auto m = Build();
  Step(*m);
  EXPECT_EQ(m->ResultGrid()[1][1], 0.0);
  EXPECT_EQ(m->ResultGrid()[1][3], 1000.0);
  m->CleanUp();

  // IDW with factor 0.5 and a reach of 1200 m: the east column has no
  // station and keeps the marker, which stays out of the zone mean.
  std::string out = dir.path().string() + "/";
  settings.DefaultOutputDirectory = &out;
  Setup(1, {{500, 1000, 0}, {600, 1000, 0}}, "2000 1 1 1 10 20\n", "none\n",
        Rest({{2, "0.5"}, {3, "stat.txt 2001"}, {7, "1200"}}));
  console.str("");
  m = Build();
  m->SetStationWarning(1);
  Step(*m);
  EXPECT_EQ(m->ResultGrid()[1][3], -10000.0);
  EXPECT_NE(console.str().find(" at x=2500, y=1500 no station within the specified search radius!"),
            std::string::npos)
      << console.str();
  double sum = 0.0;
  int cells = 0;
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 2; ++c) {
      EXPECT_GT(m->ResultGrid()[r][c], 5.0);
      EXPECT_LT(m->ResultGrid()[r][c], 10.0);
      sum += m->ResultGrid()[r][c];
      ++cells;
    }
  m->CleanUp();
  const std::string table_text = ReadFile(dir / "stat.txt");
  char mean[32];
  std::snprintf(mean, sizeof mean, "\t%.3f\t%.3f\n", sum / cells, sum / cells);
  EXPECT_TRUE(table_text.ends_with(mean)) << table_text;
}

TEST_F(Interpolator, Scenarios) {
  const std::string ten_percent = "SzenMeth\n1\n0 0 10 10 10 10 10 10 10 10 10 10 10 10\n";
  const std::string summer = "SzenMeth\n1\n0 0 0 0 0 0 0 10 20 0 0 0 0 0\n";
  for (const auto& [rows, day, expected] :
       {std::tuple{ten_percent, 1, 11.0}, std::tuple{summer, 1, 10.5161}, std::tuple{summer, 20, 11.1667}}) {
    SetPeriod({0, 1, day, 6, 2000}, {0, 1, 30, 6, 2000});
    Setup(4, {{0, 0, 0}}, "2000 6 " + std::to_string(day) + " 1 10\n", "none\n",
          Rest({{14, "1\n3"}}) + rows.substr(rows.find('\n') + 1));
    auto m = Build();
    Step(*m);
    EXPECT_NEAR(m->ResultGrid()[2][2], expected, 5e-5) << day;
    std::vector<double> scratch(2);
    EXPECT_NEAR(m->InterpolateAtPoint(scratch.data(), 100, 100, 0), expected, 5e-5) << day;
    m->CleanUp();
  }
}

TEST_F(Interpolator, ScenariosWithoutRowsChangeNothing) {
  // Multiplying, in percent and adding: no row leaves the value of 10.
  for (const int method : {2, 3, 1}) {
    SCOPED_TRACE(method);
    SetPeriod({0, 1, 1, 6, 2000}, {0, 1, 30, 6, 2000});
    Setup(4, {{0, 0, 0}}, "2000 6 1 1 10\n", "none\n", Rest({{14, "1\n" + std::to_string(method) + "\n0"}}));
    console.str("");
    auto m = Build();
    EXPECT_NE(console.str().find("the scenarios of rain (method " + std::to_string(method) +
                                 ") have no scenario rows: its values stay as they are interpolated"),
              std::string::npos)
        << console.str();
    Step(*m);
    EXPECT_EQ(m->ResultGrid()[2][2], 10.0);
    m->CleanUp();
  }
}

TEST_F(Interpolator, EndOfDataAndEndDate) {
  Setup(4, {{0, 0, 0}}, "2000 1 1 1 1\n2000 1 1 2 2\n\n");
  settings.endhour = 9;
  auto m = Build();
  Step(*m);
  m->ReadNextRecord();
  EXPECT_FALSE(m->IsEndOfData());
  EXPECT_EQ(m->CurrentRecordDate().hour, 2);
  EXPECT_EQ(m->GetStationValues()[1], 2.0);
  m->ReadNextRecord();  // the file ends before the end date
  EXPECT_TRUE(m->IsEndOfData());
  EXPECT_EQ(m->CurrentRecordDate().hour, 2);

  // Rewind returns to the start record; the current record made the end
  // date ends the data at the next advance without taking a record.
  m->Rewind();
  EXPECT_FALSE(m->IsEndOfData());
  EXPECT_EQ(m->CurrentRecordDate().hour, 1);
  m->SetEndDateToCurrent();
  m->ReadNextRecord();
  EXPECT_TRUE(m->IsEndOfData());
  EXPECT_EQ(m->GetStationValues()[1], 1.0);
  m->CleanUp();
}

TEST_F(Interpolator, InputThatEndsBeforeTheEndDateIsSeenAtItsLastRecord) {
  const std::string grid =
      "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n1 1 2\n3 4 5\n";
  WriteFile(dir / "g.asc", grid);
  const std::string g = dir / "g.asc";
  struct Case {
    std::string what;
    int method;
    std::string input;        // the records of the file named in the section
    std::string method_line;  // the section's line after the file name (methods 4 and 9)
    int end_hour;
    int last_hour;  // 0: the input does not end before the end date
  };
  const std::string regression_line = " 10 -0.005 400 9 -0.0025 1500 14 -0.006 -10000 0 0\n";
  const Case cases[] = {
      {"station file", 4, "2000 1 1 1 1\n2000 1 1 2 2\n2000 1 1 3 3\n", "none\n", 9, 3},
      {"end mark", 4, "2000 1 1 1 1\n2000 1 1 2 2\n0 0 0 0 0\n2000 1 1 3 3\n", "none\n", 9, 2},
      {"records up to the end date", 4, "2000 1 1 1 1\n2000 1 1 2 2\n", "none\n", 2, 0},
      {"grid list", 9, "2000 1 1 1 " + g + "\n2000 1 1 2 " + g + "\n\n", "8.9e-5 0.0767 127 6e-6 0.098\n", 9,
       2},
      {"regression file", 2,
       "jr mo dy hr a1 b1 h1 a2 b2 h2 a3 b3 e f g\n2000 1 1 1" + regression_line + "2000 1 1 2" +
           regression_line,
       "", 9, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.method == 2) {
      WriteFile(dir / "rain.txt", c.input);
    } else {
      WriteFile(dir / "rain.txt", StationFile({{0, 0, 1000}}, c.input));
    }
    // Method 2 names its regression file in place of the method line.
    const std::string file_lines =
        c.method == 2 ? "unused\n" + dir / "rain.txt" + "\n" : dir / "rain.txt" + "\n" + c.method_line;
    WriteControlFile(Section("rain", c.method, file_lines));
    settings.endhour = c.end_hour;
    auto m = Build();
    for (int hour = 1;; ++hour) {
      console.str("");
      const bool ends = m->InputEndsWithCurrentRecord();
      EXPECT_EQ(ends, hour == c.last_hour) << hour;
      if (ends) {
        EXPECT_NE(console.str().find("the data of rain end with the record of 1.1.2000 0" +
                                     std::to_string(hour) + ":00 in " + dir / "rain.txt" +
                                     ", before the end date 1.1.2000 0" + std::to_string(c.end_hour) + ":00"),
                  std::string::npos)
            << console.str();
      }
      // Looking ahead takes no record.
      EXPECT_EQ(m->CurrentRecordDate().hour, hour);
      Step(*m);
      m->ReadNextRecord();
      if (m->IsEndOfData()) break;
    }
    m->CleanUp();
  }
}

TEST_F(Interpolator, RecordNotInStepWithThePass) {
  WriteFile(dir / "a.txt", StationFile({{0, 0, 0}}, "2000 1 1 1 1\n2000 1 1 2 2\n"));
  WriteFile(dir / "b.txt", StationFile({{0, 0, 0}}, "2000 1 1 1 1\n2000 1 1 3 3\n"));
  WriteControlFile(Section("a", 4, dir / "a.txt" + "\nnone\n") + Section("b", 4, dir / "b.txt" + "\nnone\n"));
  auto a = Build("a");
  auto b = Build("b");
  Step(*a);
  Step(*b);
  a->ReadNextRecord();
  b->ReadNextRecord();
  EXPECT_EQ(test::ThrownCode([&] { b->InterpolateStep(0, 2, 1, 1, 2000); }), kStepDateCode);
  EXPECT_NE(console.str().find("error in date columns of b"), std::string::npos);
  b->CleanUp();
  a->CleanUp();
}

TEST_F(Interpolator, GridList) {
  auto grid = [&](const std::string& file, double value) {
    WriteFile(dir / file, "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n" +
                              Number(value) + " 1 2\n3 4 5\n");
  };
  grid("g1.asc", 7);
  grid("g3.asc", 9);
  const std::string list =
      StationFile({{0, 0, 1000}}, "2000 1 1 1 " + dir / "g1.asc" + "\n2000 1 1 2 -9999\n" + "2000 1 1 3 " +
                                      dir / "g3.asc" + "\n");
  WriteFile(dir / "list.txt", list);
  WriteControlFile(Section("rain", 9, dir / "list.txt" + "\n8.9e-5 0.0767 127 6e-6 0.098\n"));
  auto m = Build();
  std::vector<double> seen;
  for (int step = 1; step <= 3; ++step) {
    Step(*m);
    seen.push_back(m->ResultGrid()[1][1]);
    m->ReadNextRecord();
  }
  EXPECT_EQ(seen, (std::vector<double>{7, 7, 9}));  // the second step reads g1 again
  EXPECT_TRUE(m->IsEndOfData());
  m->CleanUp();

  WriteFile(dir / "list.txt", StationFile({{0, 0, 1000}}, "2000 1 1 1 -9999\n"));
  m = Build();
  EXPECT_EQ(test::ThrownCode([&] { Step(*m); }), kNoGridNameCode);
  EXPECT_NE(console.str().find("no valid grid name was found (-9999 as input)"), std::string::npos);
  m->CleanUp();
}

TEST_F(Interpolator, RecordsInSeveralBlocks) {
  // 40000 stations: blocks of 6 records, so 14 records take three blocks.
  constexpr int kStations = 40000;
  std::vector<station> stations(kStations, station{0, 0, 0});
  std::string records;
  for (int hour = 1; hour <= 14; ++hour) {
    records += "2000 1 1 " + std::to_string(hour);
    for (int i = 0; i < kStations; ++i) records += i == kStations - 1 ? " " + std::to_string(hour) : " 0";
    records += "\n";
  }
  settings.endhour = 23;
  Setup(4, stations, records);
  auto m = Build();
  EXPECT_EQ(m->File(0).capacity, 6);
  for (int hour = 2; hour <= 14; ++hour) {
    // Looking ahead at the end of a block reads the next one and leaves the
    // record to be taken.
    EXPECT_FALSE(m->InputEndsWithCurrentRecord());
    m->ReadNextRecord();
    ASSERT_FALSE(m->IsEndOfData()) << hour;
    EXPECT_EQ(m->CurrentRecordDate().hour, hour);
    EXPECT_EQ(m->GetStationValues()[kStations], hour);
  }
  EXPECT_TRUE(m->InputEndsWithCurrentRecord());
  m->ReadNextRecord();
  EXPECT_TRUE(m->IsEndOfData());
  m->CleanUp();
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

TEST(InterpolatorProgress, EveryKHoursNeverAtHourZero) {
  struct Case {
    int interval;
    double shift;
    int minute, hour;
    bool due;
  };
  const Case cases[] = {
      {1, 0, 0, 0, true},    {24, 0, 0, 0, false}, {24, 1.0, 0, 23, true},
      {6, 0, 0, 12, true},   {6, 0, 0, 13, false}, {2, 0.5, 30, 1, true},
      {2, 0.5, 0, 1, false}, {0, 0, 0, 1, false},  {-3, 0, 0, 3, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(InterpolatorProgressDue(c.interval, c.shift, c.minute, c.hour), c.due)
        << c.interval << " " << c.shift << " " << c.minute << " " << c.hour;
}

TEST(StatisticsHeader, TextByMethod) {
  statistics_header_parts p;
  p.variable = "rain";
  p.files = {{"a.txt", 1}, {"b.txt", 2}};
  p.zone_file = "zones.asc";
  p.control_file = "run.ctl";
  p.regression_file = "reg.txt";
  p.weight = 1.5;
  p.fraction = 0.25;
  p.shown_distance = 20000;
  const std::pair<int, std::string> cases[] = {
      {3,
       "rain interpolated with idw+regression from a.txt, zones from zones.asc,weighting =  1.5, fraction "
       "distance: =  0.2 max distance =    20000, control file run.ctl, additional columns: 1"},
      {2, "rain interpolated with regression from  reg.txt, zones from zones.asc, control file: run.ctl"},
      {4,
       "rain interpolated with Thiessen from a.txt, zones from zones.asc, control file run.ctl, additional "
       "columns: 1"},
      {6,
       "rain interpolated with bilinear interpolation of gradients (a.txt, add. col.: 1) and residuals "
       "(b.txt, "
       "add. col.: 2), linearly combined, zones from zones.asc, control file run.ctl"},
      {9,
       "rain read in from grids containing already interpolated data (a.txt, add. col.: 1) zones from "
       "zones.asc, control file run.ctl"},
      {12,
       "rain interpolated with Thiessen plus elevation lapserate, all values taken from a.txt, control file "
       "run.ctl"},
      {13, ""},
  };
  for (const auto& [method, text] : cases) {
    p.method = method;
    EXPECT_EQ(StatisticsHeaderText(p), text) << method;
  }
}

TEST_F(Interpolator, ProgressLinesRegionsAndScenarioRowsInRealCoordinates) {
  // Every step a progress line; cells of another region stay nodata.
  settings.message_interval = 1;
  owned.push_back(test::MatrixOf({{0, 0, 0}, {0, 0, 1}}));
  table[6].name = "MPIRegions";
  table[6].data = owned.back().get();
  // Anisotropy turns the distance-weighting frame by 90 degrees; the scenario
  // rows are still found by the cells' own coordinates: the west row adds 1,
  // the east row 100.
  Setup(1, {{1500, 1000, 0}}, "2000 1 1 1 10\n", "none\n",
        Rest({{8, "90"},
              {9, "0.5"},
              {14,
               "1\n1\n2\n0 1000 1 1 1 1 1 1 1 1 1 1 1 1\n"
               "3000 1000 100 100 100 100 100 100 100 100 100 100 100 100"}}));
  auto m = Build();
  Step(*m);
  EXPECT_NE(console.str().find("                rain 1.1.2000 1. h using scenarios!\n"), std::string::npos)
      << console.str();
  double** grid = m->ResultGrid();
  EXPECT_EQ(grid[1][1], 11.0);
  EXPECT_EQ(grid[2][1], 11.0);
  EXPECT_EQ(grid[1][3], 110.0);
  EXPECT_EQ(grid[2][3], -9999.0);  // region 1
  m->CleanUp();
}

}  // namespace
}  // namespace velmo

namespace velmo {
namespace {

TEST_F(Interpolator, MonthlyScenarioGrids) {
  // Scenario method 6 adds the grid of the record's month: 1 in January, 2
  // in the other months; the grid is read again when the month changes.
  std::string files;
  for (int month = 1; month <= 12; ++month) {
    const std::string file = dir / ("s" + std::to_string(month) + ".asc");
    WriteFile(file, "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n" +
                        std::string(month == 1 ? "1 1 1\n1 1 1\n" : "2 2 2\n2 2 2\n"));
    files += "\n" + file + " month " + std::to_string(month);
  }
  SetPeriod({0, 1, 31, 1, 2000}, {0, 1, 1, 2, 2000});
  Setup(4, {{0, 0, 0}}, "2000 1 31 1 10\n2000 2 1 1 10\n", "none\n", Rest({{14, "1\n6" + files}}));
  auto m = Build();
  const int entry = FindGridIndex("scenariogrid_rain");
  ASSERT_GT(entry, 0);
  Step(*m);
  EXPECT_EQ(m->ResultGrid()[1][2], 11.0);
  m->ReadNextRecord();
  Step(*m);
  EXPECT_EQ(m->ResultGrid()[1][2], 12.0);
  EXPECT_EQ(FindGridIndex("scenariogrid_rain"), entry);
  EXPECT_EQ(table[entry].file_name, dir / "s2.asc");
  m->CleanUp();
  EXPECT_EQ(FindGridIndex("scenariogrid_rain"), 0);
}

}  // namespace
}  // namespace velmo
