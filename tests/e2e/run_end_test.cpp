// How a run ends, on the real program: the end date in real time, records
// stamped 00:00 in place of 24:00, input that ends before the end date.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/control_run.h"
#include "framework/types.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

const char* const kStationFiles[] = {"air_humidity.txt", "global_radiation.txt", "precipitation.txt",
                                     "temperature.txt", "wind_speed.txt"};

// The rows of a table after its three header lines whose first four fields
// are a date: the date in real time and the rest of the row's numbers.
struct dated_row {
  long long minutes = 0;
  std::vector<double> values;
  bool operator==(const dated_row&) const = default;
};
std::vector<dated_row> DatedRows(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::vector<dated_row> rows;
  std::string line;
  for (int header = 0; header < 3 && std::getline(in, line); ++header) {
  }
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    model_date d;
    if (!(cells >> d.year >> d.month >> d.day >> d.hour)) continue;
    dated_row row{CalendarMinutes(d), {}};
    for (double v = 0.0; cells >> v;) row.values.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

// The text of a file from its first line of dashes on (the efficiency block
// of a discharge table), empty without one.
std::string BlockAfterDashes(const std::string& path) {
  const std::string text = ReadFile(path);
  const std::size_t at = text.find("\n----");
  return at == std::string::npos ? std::string() : text.substr(at);
}

// Rewrites the records of a station file: `change` gets each record's date
// and returns false to drop the record.
template <typename Change>
void RewriteRecords(const std::string& path, Change change) {
  std::istringstream in(ReadFile(path));
  std::string out, line;
  for (int header = 0; header < 5 && std::getline(in, line); ++header) out += line + "\n";
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    model_date d;
    if (!(fields >> d.year >> d.month >> d.day >> d.hour)) {
      out += line + "\n";
      continue;
    }
    if (!change(d)) continue;
    std::string rest;
    std::getline(fields, rest);
    out += std::to_string(d.year) + "\t" + std::to_string(d.month) + "\t" + std::to_string(d.day) + "\t" +
           std::to_string(d.hour) + rest + "\n";
  }
  WriteFile(path, out);
}

// Stamps a record of 24:00 as 00:00 of the next day.
bool StampAtMidnight(model_date& d) {
  if (d.hour != 24) return true;
  d.hour = 0;
  if (++d.day > DaysInMonth(d.month, d.year)) {
    d.day = 1;
    ++d.month;
  }
  return true;
}

// The outputs of the example run in `dir`: every file it wrote, without its
// inputs and logs.
std::vector<std::string> Outputs(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name == "example.ctl" || name.ends_with(".intern") ||
        name == "Velmo_Diag.xml" || name == "out.txt" || name == "modell_0.log")
      continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whether a file is a table of dated rows.
bool IsTable(const std::string& name) {
  return name.ends_with(".stat") || name == "points.txt" || name == "reservoir_1.txt" ||
         name == "abstraction_1.txt";
}

class RunEnd : public ControlRunTest {
 protected:
  RunEnd() : ControlRunTest("", "example.ctl") {}
};

TEST_F(RunEnd, RecordsStampedAtMidnightGiveTheResultsOfThoseStamped2400) {
  TempDir stamped_at_midnight;
  CopyExample(stamped_at_midnight);
  for (const char* file : kStationFiles)
    RewriteRecords(stamped_at_midnight / ("meteo/" + std::string(file)), StampAtMidnight);
  ASSERT_EQ(Velmo(), 0) << Transcript();
  ASSERT_EQ(RunVelmo(stamped_at_midnight.path().string(), "example.ctl", stamped_at_midnight / "out.txt"), 0);

  // Every grid and table of the run, under the same names apart from the
  // time stamps of the dated grids (a day's grid of 24:00 is one of 00:00 of
  // the next day).
  std::vector<std::string> expected = Outputs(dir);
  for (std::string& name : expected) {
    const std::size_t stamp = name.find(".2400");
    if (stamp == std::string::npos) continue;
    model_date d;
    ASSERT_EQ(std::sscanf(name.c_str() + stamp - 8, "%4d%2d%2d", &d.year, &d.month, &d.day), 3) << name;
    d.hour = 24;
    StampAtMidnight(d);
    char renamed[32];
    std::snprintf(renamed, sizeof renamed, "%04d%02d%02d.0000", d.year, d.month, d.day);
    name.replace(stamp - 8, 13, renamed);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(Outputs(stamped_at_midnight), expected);
  EXPECT_GE(expected.size(), 250u);

  for (const std::string& name : Outputs(dir)) {
    SCOPED_TRACE(name);
    if (IsTable(name)) {
      EXPECT_EQ(DatedRows(stamped_at_midnight / name), DatedRows(dir / name));
      EXPECT_EQ(BlockAfterDashes(stamped_at_midnight / name), BlockAfterDashes(dir / name));
    } else if (name.find(".2400") == std::string::npos) {
      EXPECT_EQ(ReadFile(stamped_at_midnight / name), ReadFile(dir / name));
    }
  }
}

TEST_F(RunEnd, InputThatEndsEarlyClosesTheRunAsAnEarlierEndDateDoes) {
  // The reference: the end date three days earlier, 29 March 00:00.
  Edit("endhour = 0\nendday = 1\nendmonth = 4", "endhour = 0\nendday = 29\nendmonth = 3");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  const std::vector<std::string> outputs = Outputs(dir);
  ASSERT_TRUE(std::find(outputs.begin(), outputs.end(), "peakflow.asc") != outputs.end());

  const auto cut = [&](model_date& d) { return !AtOrAfter(d, model_date{0, 1, 29, 3, 2000}); };
  // The records of every variable end three days early, or those of one
  // variable (the first, whose records give the date of a step, or a later
  // one) while the others go on.
  const std::vector<std::vector<std::string>> cases = {
      {std::begin(kStationFiles), std::end(kStationFiles)}, {"precipitation.txt"}, {"wind_speed.txt"}};
  for (const std::vector<std::string>& cut_files : cases) {
    SCOPED_TRACE(cut_files.front() + (cut_files.size() > 1 ? " and the others" : ""));
    TempDir early;
    CopyExample(early);
    for (const std::string& file : cut_files) RewriteRecords(early / ("meteo/" + file), cut);
    ASSERT_EQ(RunVelmo(early.path().string(), "example.ctl", early / "out.txt"), 0)
        << ReadFile(early / "out.txt");
    EXPECT_EQ(Outputs(early), outputs);
    for (const std::string& name : outputs) EXPECT_EQ(ReadFile(early / name), ReadFile(dir / name)) << name;
    // One warning per variable whose records end, naming the file and its
    // last record.
    const std::string diag = ReadFile(early / "Velmo_Diag.xml");
    for (const std::string& file : cut_files)
      EXPECT_THAT(diag, HasSubstr("end with the record of 28.3.2000 24:00 in meteo/" + file +
                                  ", before the end date"));
    EXPECT_EQ(diag.find("level=\"0\""), std::string::npos);
  }
}

// A copy of tests/data/meteo with hourly records from 30 April 20:00 to
// `last` and the end date 1 May 00:00.
void EndOfApril(const ControlRun& run, const model_date& last) {
  CopyTestData(run.dir, "meteo");
  run.Edit("startday = 1\nstartmonth = 1", "startday = 30\nstartmonth = 4");
  run.Edit("starthour = 1", "starthour = 20");
  run.Edit("endhour = 10\nendday = 1\nendmonth = 1", "endhour = 0\nendday = 1\nendmonth = 5");
  for (const char* file : {"rain.txt", "temperature.txt"}) {
    std::string text = ReadFile(run.dir / file);
    text.resize(text.find("2000 1 1 1 "));
    for (model_date d{0, 20, 30, 4, 2000}; CalendarMinutes(d) <= CalendarMinutes(last);) {
      text += "2000 " + std::to_string(d.month) + " " + std::to_string(d.day) + " " + std::to_string(d.hour) +
              " 1 2 3\n";
      if (++d.hour > 24) d = model_date{0, 1, 1, 5, 2000};
    }
    WriteFile(run.dir / file, text);
  }
}

TEST(EndDate, TheRunEndsAt2400OfTheLastDayOfAShortMonth) {
  // The data end with 30 April 24:00, or go on into May.
  for (const model_date last : {model_date{0, 24, 30, 4, 2000}, model_date{0, 3, 1, 5, 2000}}) {
    SCOPED_TRACE(last.day);
    ControlRun run("meteo.ctl");
    EndOfApril(run, last);
    ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
    EXPECT_THAT(ReadFile(run.dir / "Velmo_Diag.xml"), Not(HasSubstr("level=\"2\"")));
    EXPECT_EQ(StatisticsRows(run.dir / "rain.stat"), 5);
    EXPECT_TRUE(fs::exists(run.dir / "rain_20000430.2400"));
    EXPECT_FALSE(fs::exists(run.dir / "rain_20000501.0100"));
    // The end-of-run grid of the temperature.
    EXPECT_TRUE(fs::exists(run.dir / "temperature.asc"));
  }
}

}  // namespace
}  // namespace velmo::test
