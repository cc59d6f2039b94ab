// Runs the real program on a control file that holds only what the set-up
// object needs (tests/data/e2e) and on the example: a complete run, failures
// in each stage of the construction, and several control files in turn.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

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
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kData = VELMO_TEST_DATA "/e2e/";

// Whether `pieces` occur in `text` in this order.
testing::AssertionResult InOrder(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const std::string& piece : pieces) {
    const std::size_t found = text.find(piece, at);
    if (found == std::string::npos)
      return testing::AssertionFailure() << "\"" << piece << "\" missing or out of order";
    at = found + piece.size();
  }
  return testing::AssertionSuccess();
}

class Run : public test::ControlRunTest {
 protected:
  Run() : ControlRunTest("e2e", "run.ctl", {"run.ctl", "zones.asc", "dem.asc"}) {}
  std::string Diagnostics() const { return ReadFile(dir / "Velmo_Diag.xml"); }
};

// The construction messages, then the clearing in its order.
const std::vector<std::string> kRunMessages = {
    "file modappli, compiled at ",
    "file defltuzr, compiled at ",
    "GetCouplingParameters...\n...ok\n",
    "end of simulation reached successfully!\n",
    "free memory ...\n",
    "meteointerpolators are freed...\n",
    "deleting module tracer_ini\n",
    "deleting module defaults\n",
    "o.k.\nnow removing modules...o.k.\n\nthe end.\n",
};

TEST_F(Run, WithoutModules) {
  ASSERT_EQ(Velmo("run.ctl"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "run.ctl.intern"));
  const std::string transcript = Transcript();
  std::vector<std::string> expected = kRunMessages;
  expected.push_back("exitcode 0\n");
  EXPECT_TRUE(InOrder(transcript, expected)) << transcript;

  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  const std::string xml = Diagnostics();
  EXPECT_EQ(xml.find("level=\"0\""), std::string::npos);
  EXPECT_TRUE(InOrder(xml, {"description= \"meteointerpolators are freed...\"/>",
                            "<line level=\"4\" description= \"deleting module tracer_ini\"/>",
                            "<line level=\"4\" description= \"deleting module defaults\"/>",
                            "description= \"now removing modules...o.k.;;the end.\"/>"}));
}

TEST_F(Run, StandardGridWithOutputAndStatistics) {
  // Write code 312: date-stamped every step, run sum, minimum and maximum.
  std::string control = ReadFile(dir / "run.ctl");
  Replace(control, "[standard_grids]\n0       no standard grids",
          "[standard_grids]\n1\ndem.asc height fillcode = 0 writecode = 312 outname = height.asc "
          "statfile = height_stat.txt statcode = 2001");
  WriteFile(dir / "run.ctl", control);
  ASSERT_EQ(Velmo("run.ctl"), 0) << Transcript();
  EXPECT_TRUE(InOrder(Transcript(), {"end of simulation reached successfully!\n", "write height_stat.txt(",
                                     "deleting module defaults\n", "exitcode 0\n"}));
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_EQ(Diagnostics().find("level=\"0\""), std::string::npos);

  // Without a meteorological interpolator the one step keeps the placeholder
  // date -9999, which the date stamp shows as it is.
  const std::string stamped = dir / "height_-9999-9999-9999.-9999-9999";
  ASSERT_TRUE(std::filesystem::exists(stamped));
  EXPECT_TRUE(ReadFile(stamped).ends_with("\n500\t510\t520\n-9999\t530\t540\n")) << ReadFile(stamped);
  // Zone 1 has two cells, zone 2 three; the row holds the zone means and the
  // mean of all five cells.
  const std::string statistics = ReadFile(dir / "height_stat.txt");
  EXPECT_TRUE(
      statistics.starts_with("YY\tMM\tDD\tHH\t\"1\"\t\"2\"\ttot_average\n"
                             "height_submodel:(default)\n"
                             "--\t--\t--\t--\t0.4000000\t0.6000000\t1.0000\n"))
      << statistics;
  EXPECT_TRUE(statistics.ends_with("\t505.00000\t530.00000\t520.00000\n")) << statistics;
}

TEST_F(Run, ControlFilesRunInTurn) {
  ASSERT_EQ(Velmo("run.ctl run.ctl"), 0);
  std::vector<std::string> twice = kRunMessages;
  twice.insert(twice.end(), kRunMessages.begin(), kRunMessages.end());
  EXPECT_TRUE(InOrder(Transcript(), twice));

  // The exit code is that of the last control file: a failing second run
  // comes after the first one has been cleared.
  EXPECT_EQ(Velmo("run.ctl missing.ctl"), 28);
  EXPECT_TRUE(InOrder(Transcript(), {"end of simulation reached successfully!", "error opening missing.ctl",
                                     "Program aborted with exit code 28"}));
}

TEST_F(Run, ConstructionFailureEndsWithItsCode) {
  struct Case {
    std::string what;
    std::function<void(std::string& control, const TempDir& dir)> change;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"set-up: global section missing",
       [](std::string& c, const TempDir&) { Replace(c, "[output_interval]", "[output_intervals]"); }, 17,
       "error in control file, [output_interval]"},
      {"set-up: output list not ascending",
       [](std::string& c, const TempDir&) {
         Replace(c, "[output_list]\n0       no subbasins listed", "[output_list]\n3\n4\n4\n7");
       },
       97, "order of subbasin codes in output_list!"},
      {"set-up: model time incomplete",
       [](std::string& c, const TempDir&) { Replace(c, "endyear = 2000", ""); }, 1301,
       "one or more values of start and end time couldn't be read"},
      {"set-up: zone grid missing",
       [](std::string& c, const TempDir&) { Replace(c, "\nzones.asc", "\nnone.asc"); }, 21,
       "error opening none.asc"},
      {"set-up: zone grid without valid cells",
       [](std::string&, const TempDir& d) {
         WriteFile(d / "zones.asc",
                   "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
                   "-9999 -9999 -9999\n-9999 -9999 -9999\n");
       },
       7, "all cells in the zone grid zones.asc are NODATA!"},
      {"interpolator: the variable's section missing",
       [](std::string& c, const TempDir&) {
         Replace(c, "[meteo_data_count]\n0", "[meteo_data_count]\n1");
         Replace(c, "[meteo_names]\n", "[meteo_names]\ntemperature\n");
       },
       17, "error in control file, [temperature]; (EOF)not found!"},
      {"tracer descriptions: section missing",
       [](std::string& c, const TempDir&) { Replace(c, "[substance_transport]", ""); }, 17,
       "error in control file, [substance_transport]"},
      {"radiation correction: method unreadable",
       [](std::string& c, const TempDir&) {
         Replace(c, "[radiation_correction]\n0       flow control parameter: off",
                 "[radiation_correction]\n1");
         Replace(c, "60      time interval (minutes)\n\n[evapotranspiration]",
                 "60\nx\n\n[evapotranspiration]");
       },
       17, "methode of correction for [radiation_correction]"},
      {"evapotranspiration: section missing",
       [](std::string& c, const TempDir&) { Replace(c, "[evapotranspiration]", "[evapotranspirations]"); },
       17, "error in control file, [evapotranspiration]; (EOF)not found!"},
      {"evapotranspiration: Penman-Monteith without radiation",
       [](std::string& c, const TempDir&) {
         Replace(c, "[evapotranspiration]\n0       flow control parameter: off\n60",
                 "[evapotranspiration]\n1\n60\n1\n1 1 1 1 1 1 1 1 1 1 1 1\n1 1 1 1 1 1 1 1 1 1 1 1\n1\n"
                 "e.asc\n0\ne.stat 0\nr.asc\n0\nr.stat 0\nv.asc\n0\nv.stat 0\nw.asc\n0\nw.stat 0\n"
                 "s.asc\n0\ns.stat 0\ni.asc\n0\ni.stat 0\nrg.stat 0\n0.2 0.3 0.3 0.2\n"
                 "0.072 -0.808 1.749 -0.239\n0.7 0.05\n1000\n10 10 10 10 10 10 10 10 10 10 10 10\n0.6 0\n\n");
       },
       46, "Evapotranspiration requires at least one of the following entities"},
      {"tracer descriptions: too many tracers",
       [](std::string& c, const TempDir&) { Replace(c, "0       no tracers", "10"); }, 58,
       "not more than 9 tracer species are allowed"},
      {"interception: section missing",
       [](std::string& c, const TempDir&) { Replace(c, "[interception_model]", ""); }, 17,
       "error in control file, [interception_model]"},
      // Values read whole: neither 3 nor 1 is taken from these.
      {"evapotranspiration: a flow control of 3,5",
       [](std::string& c, const TempDir&) {
         Replace(c, "[evapotranspiration]\n0       flow control",
                 "[evapotranspiration]\n3,5     flow control");
       },
       17,
       "error in control file, flow control parameter for [evapotranspiration]; evapotranspirationnot found! "
       "(\"3,5\" is no whole number)"},
      {"snow model: a flow control of 1e309",
       [](std::string& c, const TempDir&) {
         Replace(c, "[snow_model]\n0       snow model off", "[snow_model]\n1e309   snow model off");
       },
       17, "flow control parameter for [snow_model]; snow_modelnot found! (\"1e309\" is no whole number)"},
      // A flow control the module does not list, an interval that is not the run's step.
      {"snow model: a flow control of -1",
       [](std::string& c, const TempDir&) {
         Replace(c, "[snow_model]\n0       snow model off", "[snow_model]\n-1      snow model off");
       },
       17,
       "the flow control parameter for [snow_model] must be 0 (off) or a positive whole number (on), not -1"},
      {"data assimilation: an interval of 1e12 minutes",
       [](std::string& c, const TempDir&) { c += "\n[data_assimilation]\n1\n1e12\n0       rules\n"; }, 63,
       "the time interval for [data_assimilation] must be a positive number of minutes, a whole one equal to "
       "the time step of the run (timestep = 60), not 1e+12"},
      {"interception: method 5",
       [](std::string& c, const TempDir&) {
         Replace(c, "[interception_model]\n0       flow control parameter: off",
                 "[interception_model]\n1\n60\n5       method");
       },
       1161, "method 5 is not supported in interception model (use one of 1, 2, 11, 12, 21, 22, 31, 32)"},
  };
  const std::string original = ReadFile(kData + "run.ctl");
  for (const Case& c : cases) {
    TempDir case_dir;
    test::CopyTestData(case_dir, "e2e", {"zones.asc", "dem.asc"});
    std::string control = original;
    c.change(control, case_dir);
    WriteFile(case_dir / "run.ctl", control);
    const std::string out = case_dir / "out.txt";
    // A later control file is not run.
    EXPECT_EQ(RunVelmo(case_dir.path().string(), "run.ctl run.ctl", out), c.code > 255 ? 255 : c.code)
        << c.what;
    const std::string transcript = ReadFile(out);
    const std::string code = std::to_string(c.code);
    EXPECT_TRUE(InOrder(transcript, {c.message, "exceptions in ModellApplication::init() caught!",
                                     "Execption " + code + " caught at top level!",
                                     "Program aborted with exit code " + code}))
        << c.what << "\n"
        << transcript;
    EXPECT_EQ(transcript.find("end of simulation reached"), std::string::npos) << c.what;
    EXPECT_EQ(transcript.find("file modappli", transcript.find("file modappli") + 1), std::string::npos)
        << c.what;
    EXPECT_TRUE(WellFormed(case_dir / "Velmo_Diag.xml")) << c.what;
  }
}

TEST_F(Run, DiagnosticsStayWellFormedWhateverTheInputHolds) {
  // A file that is no text at all: an executable's head, control characters
  // and every byte that cannot start UTF-8; its "$" makes the preprocessing
  // echo the line.
  std::string binary(
      "\x7f"
      "ELF\x02\x01\x01\x00",
      8);
  for (int b = 1; b < 256; ++b)
    if (b != '\n' && b != '#') binary += static_cast<char>(b);
  struct Case {
    std::string what;
    std::function<void(std::string& control)> change;
    int code;
    std::string console_text, diag_text;
  };
  const Case cases[] = {
      {"Latin-1 file name", [](std::string& c) { Replace(c, "\nzones.asc", "\nzone_h\xf6he.asc"); }, 21,
       "error opening zone_h\xf6he.asc", "error opening zone_h?he.asc"},
      {"control characters of a control-file line",
       [](std::string& c) { c = "title\x07\x1b[1m bold\x0b\r $undefined\n" + c; }, 17,
       "title\x07\x1b[1m bold\x0b\r $undefined", "title??[1m bold?? $undefined"},
      {"binary control file", [&](std::string& c) { c = binary; }, 17, binary.substr(0, 12), "?ELF????????"},
  };
  for (const Case& c : cases) {
    std::string control = ReadFile(kData + "run.ctl");
    c.change(control);
    WriteFile(dir / "run.ctl", control);
    EXPECT_EQ(Velmo("run.ctl"), c.code) << c.what;
    EXPECT_NE(Transcript().find(c.console_text), std::string::npos) << c.what;
    EXPECT_TRUE(WellFormed(dir / "Velmo_Diag.xml")) << c.what;
    EXPECT_NE(Diagnostics().find(c.diag_text), std::string::npos) << c.what << "\n" << Diagnostics();
  }
}

// The sum of the last column (the catchment) of a statistics table.
double CatchmentSum(const std::string& table, int& rows) {
  std::istringstream lines(ReadFile(table));
  std::string line;
  double sum = 0.0;
  rows = 0;
  for (int header = 0; header < 3; ++header) std::getline(lines, line);
  for (; std::getline(lines, line) && !line.starts_with("--"); ++rows)
    sum += std::stod(line.substr(line.rfind('\t') + 1));
  return sum;
}

// The example as the README's first command runs it: a month of hourly
// records from the stations to the discharge at the outlet.
TEST(Example, Runs) {
  TempDir dir;
  test::CopyExample(dir);
  const std::string out = dir / "out.txt";
  ASSERT_EQ(RunVelmo(dir.path().string(), "example.ctl", out), 0) << ReadFile(out);
  EXPECT_TRUE(InOrder(ReadFile(out), kRunMessages));
  ASSERT_TRUE(WellFormed(dir / "Velmo_Diag.xml"));
  EXPECT_EQ(ReadFile(dir / "Velmo_Diag.xml").find("level=\"0\""), std::string::npos);

  // One pass per hourly record of March 2000; the daily temperature means
  // of the three subbasins fall with their height.
  int rows = 0;
  const double precipitation = CatchmentSum(dir / "precipitation.stat", rows);
  EXPECT_EQ(rows, 744);
  EXPECT_GT(precipitation, 200.0);
  const std::string temperature = ReadFile(dir / "temperature.stat");
  EXPECT_TRUE(temperature.ends_with("2000\t 3\t31\t24\t5.260\t6.713\t8.762\t6.906\n")) << temperature;
  // Grids each day, date-stamped, their daily sums and means, and the sum
  // over the run.
  for (const char* grid :
       {"precipitation_20000301.2400", "temperature_20000331.2400", "temperature_000003.31m",
        "etp_000003.15s", "radiation_correction_000003.01m", "precipitation.sum", "etr.sum"})
    EXPECT_TRUE(std::filesystem::exists(dir / grid)) << grid;
  // Humidity, wind and radiation drive Penman-Monteith: more by day than by
  // night.
  const std::string etp = ReadFile(dir / "etp.stat");
  const auto catchment_mean = [&etp](int day, int hour) {
    const std::string date = "2000\t 3\t" + std::string(day < 10 ? " " : "") + std::to_string(day) + "\t" +
                             std::string(hour < 10 ? " " : "") + std::to_string(hour) + "\t";
    const std::size_t row = etp.find(date);
    EXPECT_NE(row, std::string::npos) << date;
    const std::size_t last_tab = etp.rfind('\t', etp.find('\n', row));
    return std::stod(etp.substr(last_tab + 1));
  };
  EXPECT_GT(catchment_mean(22, 13), 5.0 * catchment_mean(22, 3));
  // The canopy holds back part of the water and evaporates it; the real
  // evapotranspiration never exceeds the potential.
  const double throughfall = CatchmentSum(dir / "tf.stat", rows);
  EXPECT_LT(throughfall, precipitation - 5.0);
  EXPECT_GT(CatchmentSum(dir / "ei_Layer_1.stat", rows), 0.0);
  const double real = CatchmentSum(dir / "etr.stat", rows);
  EXPECT_GT(real, 5.0);
  EXPECT_LE(real, CatchmentSum(dir / "etp.stat", rows));
  // Snow built up on the heights and melted in the valley.
  const std::string snow = ReadFile(dir / "snowstorage.stat");
  EXPECT_TRUE(snow.ends_with("\t0.000\t13.305\n")) << snow.substr(snow.size() - 200);

  // The subbasins are routed through two channels to the outlet: the
  // discharge table in m3/s (no total column), the w-q tables and the
  // comparison with the observed discharge at the outlet.
  const std::string routed = ReadFile(dir / "qrout.stat");
  EXPECT_TRUE(
      routed.starts_with("YY\tMM\tDD\tHH\t\"1\"\t\"2\"\t\"3\"\nrouted discharge [ m3 per sec ] "
                         "_submodel:routing_model\n"))
      << routed.substr(0, 200);
  EXPECT_NE(routed.find("\nLIN. R-SQUARE\t0\t-9999.0000\t-9999.0000\t0.9"), std::string::npos);
  EXPECT_NE(routed.find("\nCOEFF.VAR.LOG\t0\t"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "wq_table.001"));
  EXPECT_TRUE(std::filesystem::exists(dir / "wq_table.002"));
  EXPECT_NE(ReadFile(out).find("routing the initialization discharges ("), std::string::npos);
}

// The example in a directory of its own.
struct ExampleCopy : test::ControlRun {
  ExampleCopy() : ControlRun("example.ctl") { test::CopyExample(dir); }
  // Only the first day of the month.
  void OneDay() { Edit("endday = 1\nendmonth = 4", "endday = 2\nendmonth = 3"); }
};

// Output of a shell command run in `directory`.
std::string CommandOutput(const std::string& directory, const std::string& command) {
  const std::string out = directory + "/command.txt";
  EXPECT_EQ(std::system(("cd '" + directory + "' && " + command + " > command.txt 2>&1").c_str()), 0)
      << command;
  return ReadFile(out);
}

TEST(ExampleRun, NetcdfGridsAreWrittenAndReadBackBitForBit) {
  ExampleCopy run;
  run.OneDay();
  // Values an ASCII grid holds exactly as doubles, written as a standard grid
  // on the example's raster of 20 x 15 cells.
  const std::vector<std::string> texts = {"-9999", "1250.125", "0.1", "1e-07", "3.3333333333333335", "-9999"};
  constexpr int kCols = 20, kRows = 15;
  std::string rows;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c)
      rows += texts[static_cast<size_t>((r + c) % 6)] + (c == kCols - 1 ? "\n" : " ");
  WriteFile(
      run.dir / "grids/fractions.asc",
      "ncols 20\nnrows 15\nxllcorner 681000\nyllcorner 240000\ncellsize 100\nnodata_value -9999\n" + rows);
  run.Edit("WriteAsciiGrids = 1", "WriteDoubleGrids = 1\nWriteNetcdfGrids = 1");
  run.Edit("[standard_grids]\n7       further input grids",
           "[standard_grids]\n8\ngrids/fractions.asc fractions fillcode = 0 writecode = 1 outname = "
           "fractions.asc");
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
  EXPECT_FALSE(std::filesystem::exists(run.dir / "fractions.asc"));

  const std::string header = CommandOutput(run.dir.path().string(), "ncdump -hs fractions.asc.nc");
  for (const char* piece :
       {"x = 20 ;", "y = 15 ;", "t = UNLIMITED ; // (24 currently)", "double fractions(t, x, y) ;",
        "fractions:missing_value = -9999. ;", "fractions:default_cellsize = 100. ;",
        "fractions:_FillValue = -9999. ;", "fractions:_DeflateLevel = 3 ;", "double x(x) ;",
        "x:units = \"m East of reference point\" ;"})
    EXPECT_THAT(header, HasSubstr(piece));
  EXPECT_THAT(header, Not(HasSubstr("_Shuffle")));

  // A later run reads the first record (one per hourly step) as a standard
  // grid and writes it as a binary double grid.
  run.Edit("WriteDoubleGrids = 1\nWriteNetcdfGrids = 1", "WriteDoubleGrids = 1");
  run.Edit("grids/fractions.asc fractions fillcode = 0 writecode = 1 outname = fractions.asc",
           "fractions.asc.nc<fractions>0 copy fillcode = 0 writecode = 1 outname = copy.dbl");
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
  const std::string copy = ReadFile(run.dir / "copy.dbl");
  ASSERT_EQ(copy.size(), 96u + kRows * kCols * 8u);
  // A record on the domain keeps its values inside the zone grid only.
  std::istringstream zones(ReadFile(run.dir / "grids/subbasins.asc"));
  std::string word;
  for (int header_word = 0; header_word < 12; ++header_word) zones >> word;
  for (size_t i = 0; i < kRows * kCols; ++i) {
    double zone = 0.0;
    zones >> zone;
    double expected = -9999.0;
    const std::string& text = texts[(i / kCols + i % kCols) % 6];
    if (zone != -9999.0) std::from_chars(text.data(), text.data() + text.size(), expected);
    double value = 0.0;
    std::memcpy(&value, copy.data() + 96 + i * 8, 8);
    EXPECT_EQ(value, expected) << i;
  }
}

// A classic netCDF grid cut short, or whose header claims an attribute of
// two billion values, is refused within seconds before the netCDF library
// opens it (which would read zeros past the end, or copy and hang).
TEST(ExampleRun, DamagedClassicNetcdfGridsAreRefused) {
  ExampleCopy run;
  run.OneDay();
  std::string cdl =
      "netcdf fractions {\ndimensions:\n x = 20 ;\n y = 15 ;\n t = UNLIMITED ;\nvariables:\n"
      " double fractions(t, x, y) ;\n  fractions:missing_value = -9999. ;\ndata:\n fractions =";
  for (int i = 0; i < 20 * 15; ++i) cdl += (i ? ", " : " ") + std::to_string(i % 7);
  WriteFile(run.dir / "fractions.cdl", cdl + " ;\n}\n");
  CommandOutput(run.dir.path().string(), "ncgen -k classic -o fractions.nc fractions.cdl");
  const std::string whole = ReadFile(run.dir / "fractions.nc");
  run.Edit("[standard_grids]\n7       further input grids",
           "[standard_grids]\n8\nfractions.nc<fractions>0 fractions fillcode = 0 writecode = 0");
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();

  std::string claims = whole;
  const size_t count = whole.find("missing_value") + 16 + 4;  // name, padded, then the type
  claims.replace(count, 4, std::string("\x7f\xff\xff\xff", 4));
  const struct {
    std::string text, message;
  } cases[] = {
      {whole.substr(0, whole.size() - 100),
       "the file is cut short: its header places the values of "
       "\"fractions\" (1 records) up to byte "},
      {claims,
       "the attribute \"missing_value\" of the variable \"fractions\" claims 2147483647 values, more "
       "than the file holds"},
  };
  for (const auto& c : cases) {
    WriteFile(run.dir / "fractions.nc", c.text);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run.Velmo(), 26);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(InOrder(run.Transcript(), {"exception occured when reading from netCDF file fractions.nc. "
                                           "Internal message is: ",
                                           c.message, "Program aborted with exit code 26"}))
        << run.Transcript();
  }
}

// A special output section that would leave something out without a word.
TEST(ExampleRun, SpecialOutputBlocksThatDoNotFitTheirCount) {
  const std::string entities =
      "  entity {\n    ID = [elevation_model];\n    Symbol = elev;\n    Xcoords = 682150;\n    Ycoords = "
      "240150;\n  }\n  entity {\n    ID = snow_storage_total;\n    Symbol = snow;\n    Xcoords = 682150;\n"
      "    Ycoords = 240150;\n  }\n";
  const struct {
    std::string from, to, message;
  } cases[] = {
      {"numfiles = 1;", "numfiles = 1.5;", "numfiles = 1.5 is no whole number of files (0 or more)"},
      {"numfiles = 1;", "numfiles = 0;",
       "the line \"file {\" follows the block of the last output file "
       "(numfiles = 0)"},
      {entities, "", "no entity in the block of output file 1 (points.txt)"},
  };
  for (const auto& c : cases) {
    ExampleCopy run;
    run.Edit(c.from, c.to);
    EXPECT_EQ(run.Velmo(), 104) << c.to;
    EXPECT_TRUE(InOrder(run.Transcript(), {"Error in section [special_output]: " + c.message,
                                           "Program aborted with exit code 104"}))
        << run.Transcript();
  }
}

// Two faults whose braces still balance: the second entity was taken into
// the first, and its column lost.
TEST(ExampleRun, SpecialOutputBlockTakenIntoAnother) {
  const std::string first_end = "    Ycoords = 240150;\n  }\n  entity {";
  const std::string blanked = "    Ycoords = 240150;\n\n  entity {";
  const struct {
    std::vector<std::pair<std::string, std::string>> edits;
    std::string message;
  } cases[] = {
      {{{"file {\n", "f\n"}, {first_end, blanked}},
       "the block of output file 1 does not open with \"file {\" (its first line: \"f\")"},
      {{{first_end, blanked}, {"  }\n}\n\n[soil_model]", "  }\n}\n}\n\n[soil_model]"}},
       "an entity block stands inside the block of another entity in the block of output file 1"},
  };
  for (const auto& c : cases) {
    ExampleCopy run;
    for (const auto& [from, to] : c.edits) run.Edit(from, to);
    EXPECT_EQ(run.Velmo(), 104) << c.message;
    EXPECT_TRUE(InOrder(run.Transcript(), {"Error in section [special_output]: " + c.message,
                                           "Program aborted with exit code 104"}))
        << run.Transcript();
  }
}

TEST(ExampleRun, SpecialOutputSamplesTheElevationModelAndTheSnow) {
  ExampleCopy run;
  run.OneDay();
  ASSERT_EQ(run.Velmo(), 0) << run.Transcript();
  // One row per hourly step of the meteorological records at the valley
  // station (column 12, row 14): its height and the snow that fell there.
  const std::string points = ReadFile(run.dir / "points.txt");
  EXPECT_TRUE(
      points.starts_with("YY\tMM\tDD\tHH\telev/12/14\tsnow/12/14\nvalley_station\n"
                         "YY\tMM\tDD\tHH\telev/682150/240150\tsnow/682150/240150\n"
                         "2000\t3\t1\t1\t1076.3\t"))
      << points;
  std::istringstream rows(points);
  std::string line;
  int count = 0;
  double snow = 0.0;
  for (int header = 0; header < 3; ++header) std::getline(rows, line);
  for (; std::getline(rows, line); ++count) snow = std::stod(line.substr(line.rfind('\t') + 1));
  EXPECT_EQ(count, 24);
  EXPECT_GT(snow, 10.0);
  EXPECT_TRUE(InOrder(run.Transcript(), {"end of simulation reached successfully!", "write points.txt\n",
                                         "deleting module special_output\n", "deleting module defaults\n"}));
}

TEST(ExampleRun, SpecialOutputFaultsEndTheRun) {
  struct {
    std::string from;
    std::string to;
    int code;
    std::string message;
  } cases[] = {
      {"Xcoords = 682150;", "Xcoords = 680000;", 1008, "x-coordinate 680000, defined as point 0 for entity"},
      {"Xcoords = 682150;", "Xcoords = 682150 682250;", 1006, "count of X coordinates dos not match"},
      {"filename = points.txt;", "", 104, "key filename not found"},
  };
  for (const auto& c : cases) {
    ExampleCopy run;
    run.Edit(c.from, c.to);
    EXPECT_EQ(run.Velmo(), c.code > 255 ? 255 : c.code) << c.message;
    EXPECT_TRUE(InOrder(run.Transcript(), {c.message, "exceptions in ModellApplication::init() caught!",
                                           "Program aborted with exit code " + std::to_string(c.code)}))
        << run.Transcript();
  }
}

}  // namespace
}  // namespace velmo
