// The global sections of the control file and their errors.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using test::WriteFile;

// The four positional values of "[output_interval]".
constexpr const char* kIntervalValues = "[output_interval]\n24\n1\n0\n30\n";
// Every global section after "[output_interval]".
constexpr const char* kOtherSections =
    "\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n1\n[meteo_names]\nprecipitation\n";

struct GlobalsFixture : test::SmallDomainTest {
  GlobalsFixture() : SmallDomainTest(test::kNoDomain) {}

  void Read(const std::string& text) {
    WriteFile(dir / "control.intern", text);
    setup.ReadGlobalSections(dir / "control.intern");
  }

  // Reads `text`, expects `code` and returns the console text.
  std::string ExpectCode(int code, const std::string& text) {
    const auto read = [&] { Read(text); };
    return test::ExpectCode(console, code, read, text);
  }
};

TEST_F(GlobalsFixture, CompleteControlFileGivesTheSettings) {
  setup.ReadGlobalSections(VELMO_TEST_DATA "/globals/complete.txt");
  EXPECT_EQ(setup.control_file, nullptr);  // closed again
  EXPECT_EQ(console.str(), "");

  setup.control_file_name = VELMO_TEST_DATA "/globals/complete.txt";
  setup.OpenControlFile();
  setup.ReadRadiationSwitch();
  setup.ReadModelTime();
  EXPECT_EQ(setup.radiation_switch, 1);
  EXPECT_EQ(setup.time_step, 60);

  const model_settings s = setup.GetSettings();
  EXPECT_EQ(s.control_file_name, VELMO_TEST_DATA "/globals/complete.txt");
  EXPECT_EQ(s.message_interval, 24);
  EXPECT_EQ(s.station_warning, 1);
  EXPECT_EQ(s.routing_output_unit, 0);
  EXPECT_DOUBLE_EQ(s.min_to_int_end, 30.5);
  EXPECT_EQ(s.timestep, 60);
  EXPECT_EQ(s.meteo_count, 3);
  EXPECT_DOUBLE_EQ(s.latitude, 47.25);
  EXPECT_DOUBLE_EQ(s.longitude, 8.5);
  EXPECT_DOUBLE_EQ(s.reference_meridian, 15.0);
  EXPECT_DOUBLE_EQ(s.time_shift, -1.0);
  EXPECT_EQ(s.meteo_names,
            (std::vector<std::string>{"", "precipitation", "temperature",
                                      "relative_humidity_of_the_air_at_two_metres_above_ground"}));
  EXPECT_EQ(s.output_list_count, 3);
  EXPECT_EQ(s.output_list, (std::vector<int>{0, 12, 17, 254}));
  EXPECT_EQ(s.StartDate().year, 2004);
  EXPECT_EQ(s.startday, 29);
  EXPECT_EQ(s.starthour, 1);
  EXPECT_EQ(s.endminute, 30);
  EXPECT_EQ(s.endyear, 2005);
  EXPECT_EQ(s.irrigation_table, nullptr);
  EXPECT_EQ(s.multilayer_table, nullptr);  // no "[multilayer_landuse]"
  EXPECT_TRUE(s.WriteAsciiGrids);
  EXPECT_FALSE(s.WriteDoubleGrids);
  EXPECT_TRUE(s.WriteNetcdfGrids);
  ASSERT_NE(s.InitialStateDirectory, nullptr);
  EXPECT_EQ(*s.InitialStateDirectory, "state/in/");
  ASSERT_NE(s.DefaultOutputDirectory, nullptr);
  EXPECT_EQ(*s.DefaultOutputDirectory, "output/run");  // first word only
}

TEST_F(GlobalsFixture, KeyLinesFollowTheFourthValueUntilAnEmptyLine) {
  struct key_case {
    const char* lines;
    bool ascii, binary_double, netcdf;
    int timestep;
    const char* output_dir;  // nullptr: not given
  };
  const key_case cases[] = {
      {"", false, false, false, 0, nullptr},
      {"\nWriteNetcdfGrids = 1\ntimestep = 60\n", false, false, false, 0, nullptr},
      {"WriteNetcdfGrids = 1\n", false, false, true, 0, nullptr},
      // A line with two key texts sets the first key of the order.
      {"timestep = 60 (see WriteAsciiGrids)\n", true, false, false, 0, nullptr},
      {"  \tDefaultOutputDirectory =   out/ rest\nremark without key\ntimestep=15\n", false, false, false, 15,
       "out/"},
      {"WriteDoubleGrids = 1\nWriteDoubleGrids = 0\n", false, false, false, 0, nullptr},
      {"WriteAsciiGrids = 1\r\n\r\nWriteDoubleGrids = 1\r\n", true, false, false, 0, nullptr},
      {"WriteAsciiGrids = 1\n \t \nWriteDoubleGrids = 1\n", true, false, false, 0, nullptr},
  };
  for (const key_case& c : cases) {
    SCOPED_TRACE(c.lines);
    Read(std::string(kIntervalValues) + c.lines + kOtherSections);
    EXPECT_EQ(setup.WriteAsciiGrids, c.ascii);
    EXPECT_EQ(setup.WriteDoubleGrids, c.binary_double);
    EXPECT_EQ(setup.WriteNetcdfGrids, c.netcdf);
    EXPECT_EQ(setup.globals.timestep, c.timestep);
    EXPECT_EQ(setup.InitialStateDirectory, nullptr);
    if (c.output_dir) {
      ASSERT_NE(setup.DefaultOutputDirectory, nullptr);
      EXPECT_EQ(*setup.DefaultOutputDirectory, c.output_dir);
    } else {
      EXPECT_EQ(setup.DefaultOutputDirectory, nullptr);
    }
  }
}

TEST_F(GlobalsFixture, OutOfRangeSwitchesAreSetBackSilently) {
  Read("[output_interval]\n6\n5 warnings\n5 spare\n-30 shift\n" + std::string(kOtherSections));
  EXPECT_EQ(setup.globals.message_interval, 6);
  EXPECT_EQ(setup.globals.station_warning, 1);
  EXPECT_EQ(setup.globals.routing_output_unit, 0);
  EXPECT_EQ(setup.globals.min_to_int_end, 0.0);
  // A shift of a whole leap year is still taken.
  Read("[output_interval]\n6\n0\n0\n527040 shift\n" + std::string(kOtherSections));
  EXPECT_EQ(setup.globals.min_to_int_end, 527040.0);
  // Unreadable optional values keep their defaults and the key lines still follow.
  Read("[output_interval]\n6\nno\nno\nno\nWriteAsciiGrids = 1\n" + std::string(kOtherSections));
  EXPECT_EQ(setup.globals.station_warning, 0);
  EXPECT_EQ(setup.globals.routing_output_unit, 0);
  EXPECT_EQ(setup.globals.min_to_int_end, 0.0);
  EXPECT_TRUE(setup.WriteAsciiGrids);
  EXPECT_EQ(console.str(), "");
}

TEST_F(GlobalsFixture, OutputListAndMeteoNames) {
  const std::string head = std::string(kIntervalValues) + "\n";
  const std::string coordinates = "[coordinates]\n47\n8\n15\n0\n";
  // The first code may stand on the count's line.
  Read(head + "[output_list]\n3 4 first\n7\n9\n" + coordinates + "[meteo_data_count]\n0\n[meteo_names]\n");
  EXPECT_EQ(setup.globals.output_list, (std::vector<int>{0, 4, 7, 9}));
  EXPECT_EQ(setup.globals.meteo_names, std::vector<std::string>{""});

  // A count of 0 reads no codes; names may be long, stand after empty lines
  // and carry a comment.
  const std::string long_name(300, 'n');
  Read(head + "[output_list]\n0\n5\n" + coordinates +
       "[meteo_data_count]\n2\n[meteo_names]\ntemperature x\n\n" + long_name +
       "\n[radiation_correction]\n1\n");
  EXPECT_EQ(setup.globals.output_list_count, 0);
  EXPECT_TRUE(setup.globals.output_list.empty());
  EXPECT_EQ(setup.globals.meteo_names, (std::vector<std::string>{"", "temperature", long_name}));

  // The poles are places on the globe.
  Read(head + "[output_list]\n0\n[coordinates]\n-90\n-200\n15\n0\n[meteo_data_count]\n0\n[meteo_names]\n");
  EXPECT_EQ(setup.globals.latitude, -90.0);
  EXPECT_EQ(setup.globals.longitude, -200.0);
}

TEST_F(GlobalsFixture, MeteoNamesEndWithTheirSection) {
  const std::string head = std::string(kIntervalValues) + "\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n";
  struct names_case {
    std::string count_and_names;
    std::string message;
  };
  const names_case cases[] = {
      // The next section's words are no names.
      {"[meteo_data_count]\n3\n[meteo_names]\nprecipitation\ntemperature\n[radiation_correction]\n1\n",
       "error in control file, [meteo_names] name 3 of 3; not found!\n"},
      {"[meteo_data_count]\n2\n[meteo_names]\n",
       "error in control file, [meteo_names] name 1 of 2; not found!\n"},
      // A huge count is refused when its names run out, before a list of its
      // size is made.
      {"[meteo_data_count]\n2147483647\n[meteo_names]\nprecipitation\n",
       "error in control file, [meteo_names] name 2 of 2147483647; not found!\n"},
  };
  for (const names_case& c : cases) EXPECT_EQ(ExpectCode(17, head + c.count_and_names), c.message);
}

TEST_F(GlobalsFixture, MissingSectionsAndUnreadableValues) {
  const std::string head = std::string(kIntervalValues) + "\n";
  const std::string list = "[output_list]\n0\n";
  const std::string coordinates = "[coordinates]\n47\n8\n15\n0\n";
  const std::string meteo = "[meteo_data_count]\n1\n[meteo_names]\nprecipitation\n";
  const std::string bad_shift =
      "error in control file, [output_interval] min_to_int_end (minutes, finite, magnitude at most 527040); "
      "not found!\n";
  const std::string bad_latitude =
      "error in control file, [coordinates] geographic latitude (degrees, finite, between -90 and 90); not "
      "found!\n";
  struct error_case {
    std::string text;
    int code;
    std::string message;
  };
  const error_case cases[] = {
      {list + coordinates + meteo, 17, "error in control file, [output_interval]; (EOF)not found!\n"},
      {"[output_interval]\nevery day\n", 17, "error in control file, output control; not found!\n"},
      {head + coordinates + meteo, 17, "error in control file, [output_list]; (EOF)not found!\n"},
      {head + "[output_list]\nmany\n" + coordinates + meteo, 17,
       "error in control file, number of subbasins in output list; not found!\n"},
      {head + "[output_list]\n2\n4\nx\n" + coordinates + meteo, 17,
       "error in control file, codes in output-list; not found!\n"},
      // Values read whole: a count beyond int or one that only starts as a
      // number is refused, and a count far beyond its codes ends at the
      // first missing code instead of sizing the list by the count.
      {head + "[output_list]\n-2147483649\n" + coordinates + meteo, 17,
       "error in control file, number of subbasins in output list; not found!\n"},
      {head + "[output_list]\n2x\n4\n7\n" + coordinates + meteo, 17,
       "error in control file, number of subbasins in output list; not found!\n"},
      {head + "[output_list]\n2000000000\n4\n" + coordinates + meteo, 17,
       "error in control file, codes in output-list; not found!\n"},
      {"[output_interval]\n24\n1\n0\n30x\n", 17, bad_shift},
      {head + list + "[coordinates]\n47\n8\n15\n" + meteo, 17,
       "error in control file, time shift of data time to lokal time; not found!\n"},
      {head + list + "[coordinates]\nnorth\n", 17,
       "error in control file, geographic latitude; not found!\n"},
      // A position off the globe would feed the solar geometry.
      {head + list + "[coordinates]\nnan\n8\n15\n0\n" + meteo, 17, bad_latitude},
      {head + list + "[coordinates]\n-inf\n8\n15\n0\n" + meteo, 17, bad_latitude},
      {head + list + "[coordinates]\n90.5\n8\n15\n0\n" + meteo, 17, bad_latitude},
      {head + list + "[coordinates]\n-91\n8\n15\n0\n" + meteo, 17, bad_latitude},
      {head + list + "[coordinates]\n47\ninf\n15\n0\n" + meteo, 17,
       "error in control file, [coordinates] geographic longitude (degrees, finite); not found!\n"},
      {head + list + coordinates + "[meteo_data_count]\nsome\n[meteo_names]\n", 17,
       "error in control file, number of meteorological variables; not found!\n"},
      {head + list + coordinates + "[meteo_data_count]\n-1\n[meteo_names]\n", 17,
       "error in control file, number of meteorological variables; not found!\n"},
      {head + list + coordinates + "[meteo_data_count]\n1\n", 17,
       "error in control file, [meteo_names]; (EOF)not found!\n"},
      // A shift that is not finite or beyond a year of minutes would overflow
      // the date arithmetic of the run.
      {"[output_interval]\n24\n1\n0\ninf\n", 17, bad_shift},
      {"[output_interval]\n24\n1\n0\nnan\n", 17, bad_shift},
      {"[output_interval]\n24\n1\n0\n1e308\n", 17, bad_shift},
      {"[output_interval]\n24\n1\n0\n527041\n", 17, bad_shift},
      {"[output_interval]\n24\n1\n0\n-1e9\n", 17, bad_shift},
      {"[output_interval]\n24\n1\n0\n30\nWriteAsciiGrids = yes\n", 17,
       "error in control file, [output_interval] WriteAsciiGrids; not found! (\"yes\" is no whole number)\n"},
      {"[output_interval]\n24\n1\n0\n30\nDefaultOutputDirectory\n", 17,
       "error in control file, [output_interval] DefaultOutputDirectory; not found!\n"},
      {head + "[output_list]\n3\n4\n4\n7\n" + coordinates + meteo, 97,
       "\nError in control file: order of subbasin codes in output_list!\n"
       "if output should be written for a specified set of subbasins,\n"
       "(specified by a statcode of 5 for averaging in time or 6 for summing in time)\n"
       "than the codes has to be arranged in ascendend order\n.look in [output_list]\n\n"},
  };
  for (const error_case& c : cases) {
    EXPECT_EQ(ExpectCode(c.code, c.text), c.message) << c.text;
  }
}

TEST_F(GlobalsFixture, UnopenableControlFile) {
  EXPECT_EQ(test::ExpectCode(console, 28, [&] { setup.ReadGlobalSections(dir / "absent.intern"); }),
            "Error opening " + (dir / "absent.intern") + "\n");
}

TEST(KeyLineValues, IntegerAndWordAfterTheFirstEquals) {
  int value = -1;
  std::string word;
  EXPECT_TRUE(ReadKeyInteger("timestep=60 (minutes = 1 hour)", value, word));
  EXPECT_EQ(value, 60);
  EXPECT_TRUE(ReadKeyInteger("startyear = -5", value, word));
  EXPECT_EQ(value, -5);
  value = 7;
  EXPECT_FALSE(ReadKeyInteger("timestep 60", value, word));
  EXPECT_EQ(word, "");
  EXPECT_FALSE(ReadKeyInteger("timestep = sixty", value, word));
  EXPECT_FALSE(ReadKeyInteger("timestep = 99999999999", value, word));
  for (const char* token : {"1e309", "1,5", "12abc", "60."}) {
    EXPECT_FALSE(ReadKeyInteger(std::string("endday = ") + token, value, word)) << token;
    EXPECT_EQ(word, token);
  }
  EXPECT_EQ(value, 7);

  EXPECT_TRUE(ReadKeyWord("InitialStateDirectory =\tc:\\run\\ old", word));
  EXPECT_EQ(word, "c:\\run\\");
  EXPECT_FALSE(ReadKeyWord("InitialStateDirectory =  ", word));
}

}  // namespace
}  // namespace velmo
