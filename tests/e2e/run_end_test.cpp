// How a run ends, on the real program: the end date in real time, records
// stamped 00:00 in place of 24:00, input that ends before the end date, a
// fatal error in the time loop, outputs that cannot be written while the run
// is cleared, and too little memory.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/control_run.h"
#include "e2e/example_run.h"
#include "framework/types.h"
#include "support/test_support.h"

namespace velmo::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

const char* const kStationFiles[] = {"air_humidity.txt", "global_radiation.txt", "precipitation.txt",
                                     "temperature.txt", "wind_speed.txt"};

// The rows of a table: the date in real time and the values as written.
std::vector<std::pair<long long, std::vector<std::string>>> DatedRows(const std::string& path) {
  std::vector<std::pair<long long, std::vector<std::string>>> rows;
  for (const table_row& row : TableRows(path))
    rows.emplace_back(CalendarMinutes({0, row.date[3], row.date[2], row.date[1], row.date[0]}), row.values);
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

TEST_F(RunEnd, BackslashesInPathsAreFolderSeparators) {
  // The reference run, then the same with the paths written as on other
  // systems.
  ASSERT_EQ(Velmo(), 0) << Transcript();
  TempDir backslashes;
  CopyExample(backslashes);
  std::string control = ReadFile(backslashes / "example.ctl");
  for (const std::string folder : {"meteo", "grids", "discharge"})
    for (std::size_t at = control.find(folder + "/"); at != std::string::npos;
         at = control.find(folder + "/", at))
      control[at + folder.size()] = '\\';
  ASSERT_NE(control.find("meteo\\precipitation.txt"), std::string::npos);
  WriteFile(backslashes / "example.ctl", control);
  ASSERT_EQ(RunVelmo(backslashes.path().string(), "example.ctl", backslashes / "out.txt"), 0)
      << ReadFile(backslashes / "out.txt");
  for (const std::string name : {"qrout.stat", "precipitation.sum", "snowtotal.asc", "state.ftz"})
    EXPECT_EQ(ReadFile(backslashes / name), ReadFile(dir / name)) << name;
}

TEST(GridList, BackslashesInGridNamesAreFolderSeparators) {
  ControlRun run("meteo.ctl");
  CopyTestData(run.dir, "meteo");
  fs::create_directory(run.dir / "sub");
  fs::copy_file(run.dir / "dem.asc", run.dir / "sub/dem.asc");
  run.Edit("1       idw\nrain.txt        station file\nnone",
           "9       ReadGrid\nlist.txt\n8.9e-5 0.0767 127 6e-6 0.098");
  run.Edit("endhour = 10", "endhour = 2");
  run.Edit("list.txt", "2000 1 1 1 -9999\n2000 1 1 2 dem.asc",
           "2000 1 1 1 sub\\dem.asc\n2000 1 1 2 sub\\dem.asc");
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
  EXPECT_EQ(StatisticsRows(run.dir / "rain.stat"), 2);
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

// The program run in `dir` on `arguments` (one word each) with `resource`
// limited to `limit`, its standard output in `out` (a pipe would not be
// limited, but a file is enough here); its exit status, -1 when it did not
// exit.
int RunLimited(const TempDir& dir, const std::vector<std::string>& arguments, int resource, rlim_t limit,
               const std::string& out = "/dev/null") {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(200);
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(201);
    // A file that reaches the size limit fails its write instead of ending
    // the process.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit bound{limit, limit};
    if (setrlimit(resource, &bound) != 0) _exit(202);
    std::vector<char*> argv{const_cast<char*>("velmo")};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(VELMO_BINARY, argv.data());
    _exit(203);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Rain read from a grid list whose grid of step 101 is missing, 120 hourly
// steps: the run ends with code 21 in step 101.
void MissingGridInStep101(const ControlRun& run) {
  CopyTestData(run.dir, "meteo");
  run.Edit("1       idw\nrain.txt        station file\nnone",
           "9       ReadGrid\nlist.txt\n8.9e-5 0.0767 127 6e-6 0.098");
  run.Edit("endhour = 10\nendday = 1", "endhour = 24\nendday = 5");
  std::string list = ReadFile(run.dir / "list.txt");
  list.resize(list.find("2000 1 1 1 "));
  std::string temperatures = ReadFile(run.dir / "temperature.txt");
  temperatures.resize(temperatures.find("2000 1 1 1 "));
  for (int step = 1; step <= 120; ++step) {
    const std::string date =
        "2000 1 " + std::to_string(1 + (step - 1) / 24) + " " + std::to_string((step - 1) % 24 + 1);
    list += date + (step == 101 ? " gone.asc\n" : " dem.asc\n");
    temperatures += date + " 1 2 3\n";
  }
  WriteFile(run.dir / "list.txt", list);
  WriteFile(run.dir / "temperature.txt", temperatures);
}

TEST(FatalError, TheTablesGetTheRowsOfEveryStepComputed) {
  ControlRun run("meteo.ctl");
  MissingGridInStep101(run);
  EXPECT_EQ(run.Velmo(), 21) << run.Transcript();
  EXPECT_EQ(StatisticsRows(run.dir / "rain.stat"), 100);
  EXPECT_EQ(StatisticsRows(run.dir / "temperature.stat"), 50);  // a row every two steps
  const std::string diag = ReadFile(run.dir / "Velmo_Diag.xml");
  EXPECT_THAT(diag, HasSubstr("still error opening gone.asc"));
  EXPECT_THAT(diag, HasSubstr("the run ends with code 21 in its step 101: the rows of the steps computed are "
                              "written to the tables; no state file is written"));
  EXPECT_THAT(run.Transcript(), Not(HasSubstr("end of simulation reached successfully!")));
}

TEST(FatalError, TheClosingEntryCountsTheTablesThatCouldNotBeWritten) {
  // Every file limited to one byte less than the rain table of the same run
  // without a limit: the disk is full when that table is written, and for no
  // other file (every other output is written as in that run).
  ControlRun reference("meteo.ctl");
  MissingGridInStep101(reference);
  ASSERT_EQ(reference.Velmo(), 21) << reference.Transcript();
  const auto file_limit = static_cast<rlim_t>(fs::file_size(reference.dir / "rain.stat") - 1);
  ControlRun run("meteo.ctl");
  MissingGridInStep101(run);
  EXPECT_EQ(RunLimited(run.dir, {"meteo.ctl", "-diaglevel:ERROR"}, RLIMIT_FSIZE, file_limit), 21);
  const std::string diag = ReadFile(run.dir / "Velmo_Diag.xml");
  EXPECT_THAT(diag, HasSubstr("the run ends with code 21 in its step 101: 1 table could not be written"));
  EXPECT_THAT(diag, Not(HasSubstr("the rows of the steps computed are written to the tables")));
  for (const auto& entry : fs::directory_iterator(reference.dir.path())) {
    const std::string name = entry.path().filename();
    if (name == "rain.stat" || name == "Velmo_Diag.xml" || name == "out.txt") continue;
    EXPECT_EQ(ReadFile(run.dir / name), ReadFile(entry.path())) << name;
  }
}

TEST_F(RunEnd, AStateFileThatCannotBeWrittenCompletelyIsRemoved) {
  // The state file is written to a full disk.
  fs::create_symlink("/dev/full", dir / "state.ftz");
  EXPECT_EQ(Velmo(), 16) << Transcript();
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "state.ftz")));
  EXPECT_THAT(ReadFile(dir / "Velmo_Diag.xml"),
              HasSubstr("the state file state.ftz could not be written completely and is removed"));
}

TEST_F(RunEnd, OutputsThatCannotBeWrittenStopNothingOfTheClearing) {
  // The reference run, then the same with every file limited to 16 KiB: the
  // tables that grow beyond it fail when they are written at the end (disk
  // full), every other output is written as in the reference.
  constexpr rlim_t kFileLimit = 16384;
  ASSERT_EQ(Velmo(), 0) << Transcript();
  TempDir full;
  CopyExample(full);
  EXPECT_EQ(RunLimited(full, {"example.ctl", "-diaglevel:ERROR"}, RLIMIT_FSIZE, kFileLimit), 16);

  const std::string diag = ReadFile(full / "Velmo_Diag.xml");
  int failed = 0;
  for (const std::string& name : Outputs(dir)) {
    SCOPED_TRACE(name);
    if (fs::file_size(dir / name) > kFileLimit) {
      // Reported by name; the first cut table gives the code, 16.
      EXPECT_THAT(diag, HasSubstr(name + "\"/>"));
      ++failed;
    } else {
      EXPECT_EQ(ReadFile(full / name), ReadFile(dir / name));
    }
  }
  EXPECT_GE(failed, 10);
  // The failures are ERROR entries: the clearing went on after each.
  EXPECT_THAT(diag, HasSubstr("<line level=\"1\" description= \"cannot close qrout.stat\"/>"));
  EXPECT_THAT(diag, Not(HasSubstr("level=\"0\" description= \"cannot close")));
  EXPECT_THAT(diag, HasSubstr("not every output could be written (the ERROR entries name the files); the run "
                              "ends with code 16"));
  for (const auto& entry : fs::directory_iterator(full.path()))
    if (entry.is_regular_file()) {
      EXPECT_GT(entry.file_size(), 0u) << entry.path();
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define VELMO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMO_ADDRESS_SANITIZER 1
#endif
#endif

TEST_F(RunEnd, TooLittleMemoryEndsWithTheAllocationCode) {
#ifdef VELMO_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer cannot run under a bound of the address space";
#else
  // The address space that the program needs to start (its usage message
  // ends with 2), found in steps of 4 MiB.
  constexpr rlim_t kStep = 4 << 20;
  rlim_t start = kStep;
  while (start < (rlim_t{1} << 32) && RunLimited(dir, {}, RLIMIT_AS, start) != 2) start += kStep;
  ASSERT_LT(start, rlim_t{1} << 32);
  // The example needs some 20 MiB beyond that: with less it fails where the
  // memory runs out, in the set-up or in a module that is built.
  for (const rlim_t extra : {rlim_t{4} << 20, rlim_t{12} << 20}) {
    SCOPED_TRACE(extra);
    TempDir short_of_memory;
    CopyExample(short_of_memory);
    EXPECT_EQ(RunLimited(short_of_memory, {"example.ctl"}, RLIMIT_AS, start + extra), 81);
    const std::string diag = ReadFile(short_of_memory / "Velmo_Diag.xml");
    EXPECT_THAT(diag, HasSubstr("<line level=\"0\" description= \"memory allocation error in "));
    EXPECT_THAT(diag, HasSubstr("Program aborted with exit code 81"));
  }
#endif
}

}  // namespace
}  // namespace velmo::test
