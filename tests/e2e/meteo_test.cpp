// The real program with meteorological interpolators (tests/data/meteo): a
// complete run with dated grids and statistics rows, a station file that ends
// early, a grid list without a first grid, and the Ctrl-C menu on a run of
// many days interrupted by a real SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "e2e/control_run.h"
#include "e2e/xml_check.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::ReadFile;
using test::Replace;
using test::RunVelmo;
using test::TempDir;
using test::WellFormed;
using test::WriteFile;

// Table rows of a statistics file (after its three header lines).
int Rows(const std::string& path) { return test::StatisticsRows(path); }

class MeteoRun : public test::ControlRunTest {
 public:
  MeteoRun() : ControlRunTest("meteo", "meteo.ctl") {}
};

TEST_F(MeteoRun, OnePassPerRecord) {
  ASSERT_EQ(Velmo(), 0) << Transcript();
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_EQ(ReadFile(dir / "Velmo_Diag.xml").find("level=\"0\""), std::string::npos);
  for (int hour = 1; hour <= 10; ++hour) {
    char name[64];
    std::snprintf(name, sizeof name, "rain_20000101.%02d00", hour);
    EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
  }
  EXPECT_EQ(Rows(dir / "rain.stat"), 10);
  EXPECT_EQ(Rows(dir / "temperature.stat"), 5);
  // Hour 4: the middle station is missing; cell coordinates are lower-left
  // corners, so the first cell (0, 100) weighs the west station (2) with
  // 1/5000 and the east one (1) with 1/65000.
  const std::string grid = ReadFile(dir / "rain_20000101.0400");
  EXPECT_TRUE(grid.ends_with("1.92857\t1.83333\t1.16667\n-9999\t1.5\t1.1\n")) << grid;
  EXPECT_TRUE(std::filesystem::exists(dir / "temperature.asc"));
  const std::string transcript = Transcript();
  EXPECT_NE(transcript.find("deleting interpolator for temperature\n"), std::string::npos);
  EXPECT_LT(transcript.find("deleting interpolator for temperature"),
            transcript.find("deleting interpolator for rain"));
}

TEST_F(MeteoRun, StationFilesEndingBeforeTheEndDate) {
  Edit("meteo.ctl", "endhour = 10", "endhour = 20");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  EXPECT_EQ(Rows(dir / "rain.stat"), 10);
  EXPECT_TRUE(std::filesystem::exists(dir / "rain_20000101.1000"));
  EXPECT_FALSE(std::filesystem::exists(dir / "rain_20000101.1100"));
  // The run closes with the last record: the end-of-run grid is written.
  EXPECT_TRUE(std::filesystem::exists(dir / "temperature.asc"));
}

// A record short of a value would let the other stations' values cover every
// cell; a record cut off at the file's end (a file still being written) is no
// record: the data end with the one before it.
TEST_F(MeteoRun, RecordsShortOfValues) {
  const std::string rain = ReadFile(dir / "rain.txt");
  Edit("rain.txt", "2000 1 1 3 1.5 0 1\n", "2000 1 1 3 1.5 0\n");
  EXPECT_EQ(Velmo(), 19);
  EXPECT_NE(Transcript().find("read error in rain.txt, line 8: the record holds 2 values after its date, the "
                              "file has 3 stations"),
            std::string::npos)
      << Transcript();

  const size_t cut = rain.find("2000 1 1 7 3.5 1") + std::string("2000 1 1 7 3.5 1").size();
  for (const std::string& tail : {std::string(), std::string(" ")}) {
    WriteFile(dir / "rain.txt", rain.substr(0, cut) + tail);
    ASSERT_EQ(Velmo(), 0) << Transcript();
    EXPECT_EQ(Rows(dir / "rain.stat"), 6);
    EXPECT_TRUE(std::filesystem::exists(dir / "rain_20000101.0600"));
    EXPECT_FALSE(std::filesystem::exists(dir / "rain_20000101.0700"));
    EXPECT_NE(Transcript().find("the data of rain end with the record of 1.1.2000 06:00 in rain.txt"),
              std::string::npos)
        << Transcript();
    std::filesystem::remove(dir / "rain_20000101.0600");
  }
}

// A value that is no number as a whole is missing, and the file says so once.
TEST_F(MeteoRun, ValuesThatAreNoNumberAreMissingWithAWarning) {
  Edit("rain.txt", "2000 1 1 3 1.5 0 1\n", "2000 1 1 3 -8.2x 0 1\n");
  Edit("rain.txt", "2000 1 1 6 3 0 1\n", "2000 1 1 6 3 1500x 1/2\n");
  ASSERT_EQ(Velmo(), 0) << Transcript();
  const std::string transcript = Transcript();
  EXPECT_NE(transcript.find("3 values of rain.txt are no number as a whole and taken as missing, the "
                            "first in line 8, column 5"),
            std::string::npos)
      << transcript;
  EXPECT_EQ(transcript.find("values of temperature.txt"), std::string::npos);
  // Hour 3 from the east and middle stations alone.
  const std::string grid = ReadFile(dir / "rain_20000101.0300");
  EXPECT_EQ(grid.find("1.5"), std::string::npos) << grid;
}

// A row longer than the head's ncols would shift every later cell of the
// elevation model.
TEST_F(MeteoRun, GridRowsThatDoNotFitTheHead) {
  for (const auto& [from, to, line] :
       {std::tuple{"500 510 520\n", "500 510 520 515\n", 7}, std::tuple{"ncols 3\n", "ncols 2\n", 7},
        std::tuple{"-9999 530 540", "-9999 530 540\n-9999 530 540", 9}}) {
    const std::string dem = ReadFile(dir / "dem.asc");
    Edit("dem.asc", from, to);
    EXPECT_EQ(Velmo(), 22) << from;
    EXPECT_NE(Transcript().find("dem.asc in ASCII-Format: more values than ncols"), std::string::npos)
        << Transcript();
    EXPECT_NE(Transcript().find("line " + std::to_string(line) + " is the first that does not fit"),
              std::string::npos)
        << from;
    WriteFile(dir / "dem.asc", dem);
  }
}

TEST_F(MeteoRun, FailuresEndWithTheirCodes) {
  struct Case {
    std::string what, from, to;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"grid list starting without a grid", "1       idw\nrain.txt        station file\nnone",
       "9       ReadGrid\nlist.txt\n8.9e-5 0.0767 127 6e-6 0.098", 1050, "no valid grid name was found"},
      {"start date absent", "starthour = 1", "starthour = 0", 51, "dosnt contain date"},
      {"idw weight 3e6", "2               idw weight", "3e6 idw weight", 17,
       "idw-weight in rain lies beyond -1e6 to 1e6: 3e+06"},
      {"idw weight 1e20", "2               idw weight", "1e20 idw weight", 17,
       "idw-weight in rain lies beyond -1e6 to 1e6: 1e+20"},
      {"idw weight -1e20", "2               idw weight", "-1e20 idw weight", 17,
       "idw-weight in rain lies beyond -1e6 to 1e6: -1e+20"},
  };
  for (const Case& c : cases) {
    TempDir case_dir;
    test::CopyTestData(case_dir, "meteo");
    std::string control = ReadFile(case_dir / "meteo.ctl");
    Replace(control, c.from, c.to);
    WriteFile(case_dir / "meteo.ctl", control);
    EXPECT_EQ(RunVelmo(case_dir.path().string(), "meteo.ctl", case_dir / "out.txt"), std::min(c.code, 255))
        << c.what;
    const std::string transcript = ReadFile(case_dir / "out.txt");
    EXPECT_NE(transcript.find(c.message), std::string::npos) << c.what << "\n" << transcript;
    EXPECT_NE(transcript.find("Program aborted with exit code " + std::to_string(c.code)), std::string::npos)
        << c.what;
  }
}

// ---------------------------------------------------------------- Ctrl-C

constexpr int kDays = 120;
// Only a guard against a run that hangs: a sanitizer build on a loaded
// machine needs more than a minute for the whole run.
constexpr auto kWait = std::chrono::seconds(300);
constexpr const char* kMenu = "choose one of the above options:";

// The program on `kDays` days of hourly records, its output on a pipe and its
// answers written by the test once the menu is shown.
class InterruptedRun {
 public:
  explicit InterruptedRun(const TempDir& dir) {
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe(out_) != 0 || pipe(in_) != 0) return;
    if (child_.Fork() == 0) {
      if (chdir(dir.path().c_str()) != 0) _exit(200);
      dup2(out_[1], STDOUT_FILENO);
      dup2(out_[1], STDERR_FILENO);
      dup2(in_[0], STDIN_FILENO);
      close(out_[0]);
      close(in_[1]);
      execl(VELMO_BINARY, "velmo", "meteo.ctl", static_cast<char*>(nullptr));
      _exit(201);
    }
    close(out_[1]);
    close(in_[0]);
  }
  ~InterruptedRun() {
    close(out_[0]);
    if (in_[1] >= 0) close(in_[1]);
  }

  // Reads output for up to `ms` milliseconds; false at its end.
  bool Read(int ms) {
    pollfd fd{out_[0], POLLIN, 0};
    if (poll(&fd, 1, ms) <= 0) return true;
    char buffer[65536];
    const ssize_t n = read(out_[0], buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }
  // Sends one Ctrl-C, waits for the menu, then (after `second_press` more
  // presses while the menu waits) answers; true when it showed.
  bool InterruptAndAnswer(const std::string& answer, int second_press = 0) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (output_.find("rain 1.1.2000 2. h") == std::string::npos)
      if (!Read(100) || std::chrono::steady_clock::now() > deadline) return false;
    // One press is enough, whatever the program is doing.
    child_.Signal(SIGINT);
    while (output_.find(kMenu) == std::string::npos)
      if (!Read(100) || std::chrono::steady_clock::now() > deadline) return false;
    // The menu waits for its answer: these presses come while it is open.
    for (int press = 0; press < second_press; ++press) child_.Signal(SIGINT);
    const bool written = write(in_[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
    close(in_[1]);
    in_[1] = -1;
    return written;
  }
  // Exit status, after reading the rest of the output.
  int Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (Read(100))
      if (std::chrono::steady_clock::now() > deadline) return -1;
    return child_.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kWait));
  }
  const std::string& Output() const { return output_; }

 private:
  int out_[2] = {-1, -1};
  int in_[2] = {-1, -1};
  test::ChildProcess child_;
  std::string output_;
};

class CtrlC : public MeteoRun {
 public:
  void SetUp() override {
    MeteoRun::SetUp();
    // Progress lines every step; hourly records of many days.
    Edit("meteo.ctl", "24      progress messages every 24 hours", "1");
    Edit("meteo.ctl", "endhour = 10\nendday = 1\nendmonth = 1", "endhour = 24\nendday = 29\nendmonth = 4");
    for (const char* file : {"rain.txt", "temperature.txt"}) {
      std::string text = ReadFile(dir / file);
      text.resize(text.find("2000 1 1 1 "));
      for (int day = 0; day < kDays; ++day)
        for (int hour = 1; hour <= 24; ++hour) {
          const int month = day < 31 ? 1 : day < 60 ? 2 : day < 91 ? 3 : 4;
          const int first = month == 1 ? 0 : month == 2 ? 31 : month == 3 ? 60 : 91;
          text += "2000 " + std::to_string(month) + " " + std::to_string(day - first + 1) + " " +
                  std::to_string(hour) + " 1 2 3\n";
        }
      WriteFile(dir / file, text);
    }
  }
};

TEST_F(CtrlC, CancelAfterTheStepWritesOutputsAndEndsWith99) {
  InterruptedRun run(dir);
  ASSERT_TRUE(run.InterruptAndAnswer("1\n")) << run.Output();
  EXPECT_EQ(run.Finish(), 99) << run.Output();
  EXPECT_NE(run.Output().find("end of simulation reached successfully!"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "temperature.asc"));
  EXPECT_GT(Rows(dir / "rain.stat"), 0);
  EXPECT_LT(Rows(dir / "rain.stat"), kDays * 24);
}

TEST_F(CtrlC, CancelNowEndsWith98WithoutOutputs) {
  InterruptedRun run(dir);
  ASSERT_TRUE(run.InterruptAndAnswer("2\n")) << run.Output();
  EXPECT_EQ(run.Finish(), 98);
  EXPECT_NE(run.Output().find("program manually killed by pressing Ctrl-C and selecting 2!"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "temperature.asc"));
  EXPECT_EQ(Rows(dir / "rain.stat"), 0);
}

TEST_F(CtrlC, PressesWhileTheMenuWaitsAreIgnored) {
  InterruptedRun run(dir);
  ASSERT_TRUE(run.InterruptAndAnswer("0\n", 2)) << run.Output();
  EXPECT_EQ(run.Finish(), 0);
  const std::string& output = run.Output();
  EXPECT_EQ(output.find(kMenu), output.rfind(kMenu));
  EXPECT_EQ(Rows(dir / "rain.stat"), kDays * 24);
}

TEST_F(CtrlC, FlushAndGoOn) {
  InterruptedRun run(dir);
  ASSERT_TRUE(run.InterruptAndAnswer("3\n")) << run.Output();
  EXPECT_EQ(run.Finish(), 0);
  const std::string& output = run.Output();
  const std::size_t menu = output.find(kMenu);
  // The rows buffered until the menu are written then, the others at the end.
  EXPECT_GT(output.find("write rain.stat("), menu);
  EXPECT_LT(output.find("write rain.stat("), output.find("end of simulation reached"));
  EXPECT_EQ(Rows(dir / "rain.stat"), kDays * 24);
  EXPECT_TRUE(std::filesystem::exists(dir / "temperature.asc"));
}

}  // namespace
}  // namespace velmo
