// Grid sections, the domain header and the zone ranking of the set-up.
#include "setup/zonegrids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "setup/defltuzr.h"
#include "support/small_domain.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using test::WriteFile;

constexpr double N = -9999.0;
using test::Rows;

// ---------------------------------------------------------------- standard grid lines

TEST(StandardGridLine, BothFormsWithEveryKey) {
  struct line_case {
    const char* line;
    int fillcode, readcode;
    double default_value;
    int write_code;
    const char* outname;
    const char* statfile;
    int statcode;
    bool periodic;
    int period_length;
    const char* unit;
    int period_offset;
    bool persistent;
    int persistence_steps;
  };
  const line_case cases[] = {
      // Old form with nothing but the fill code: every default.
      {"a.asc landuse 1", 1, 1, 0.0, 0, "", "", 0, false, -1, "", -1, true, 0},
      // Keys in the comment of an old-form line count; fillcode replaces the third value.
      {"a.asc landuse 1 the comment sets writecode = 3333", 1, 1, 0.0, 3333, "", "", 0, false, -1, "", -1,
       true, 0},
      {"a.asc landuse 1 fillcode=2", 2, 1, 0.0, 0, "", "", 0, false, -1, "", -1, true, 0},
      // Every key in the new form; a ";" that ends a token ends the value, a word's too.
      {"g.asc albedo fillcode = 2 readcode = 0 defaultValue = 5.5 writecode = 1238 outname = out/alb.asc "
       "statfile = alb.stat; statcode = 3 periodicity = 1 D 2; persistent = 0 5 ;",
       2, 0, 5.5, 1238, "out/alb.asc", "alb.stat", 3, true, 1, "D", 2, false, 5},
      // Keys in any order, values right after "=".
      {"g.asc x persistent=1 periodicity=12 M -1 statcode=2 fillcode=0", 0, 1, 0.0, 0, "", "", 2, true, 12,
       "M", -1, true, 0},
      // persistent is looked for only with periodicity.
      {"g.asc x fillcode = 1 persistent = 0 5", 1, 1, 0.0, 0, "", "", 0, false, -1, "", -1, true, 0},
      // A key inside a longer word, or with no "=" after it, is comment text.
      {"g.asc x 1 old_readcode = 0 mywritecode=5", 1, 1, 0.0, 0, "", "", 0, false, -1, "", -1, true, 0},
      {"g.asc x 1 periodicity = 1 D 0 persistent = 1 (no statfile)", 1, 1, 0.0, 0, "", "", 0, true, 1, "D", 0,
       true, 0},
      // The old form's number ends where it cannot go on; the rest is comment.
      {"g.asc x 2;readcode=0", 2, 0, 0.0, 0, "", "", 0, false, -1, "", -1, true, 0},
  };
  for (const line_case& c : cases) {
    standard_grid_definition g;
    grid_key_fault bad;
    ASSERT_EQ(ParseStandardGridLine(c.line, g, bad), grid_line_fault::none) << c.line << " key " << bad.key;
    EXPECT_EQ(g.fillcode, c.fillcode) << c.line;
    EXPECT_EQ(g.readcode, c.readcode) << c.line;
    EXPECT_EQ(g.default_value, c.default_value) << c.line;
    EXPECT_EQ(g.write_code, c.write_code) << c.line;
    EXPECT_EQ(g.outname, c.outname) << c.line;
    EXPECT_EQ(g.statfile, c.statfile) << c.line;
    EXPECT_EQ(g.statcode, c.statcode) << c.line;
    EXPECT_EQ(g.periodic, c.periodic) << c.line;
    EXPECT_EQ(g.period_length, c.period_length) << c.line;
    EXPECT_EQ(g.period_unit, c.unit) << c.line;
    EXPECT_EQ(g.period_offset, c.period_offset) << c.line;
    EXPECT_EQ(g.persistent, c.persistent) << c.line;
    EXPECT_EQ(g.persistence_steps, c.persistence_steps) << c.line;
  }
}

TEST(StandardGridLine, FaultsNameTheirKey) {
  struct fault_case {
    const char* line;
    grid_line_fault fault;
    const char* key;
    const char* token = "";
  };
  const fault_case cases[] = {
      {"", grid_line_fault::missing_words, ""},
      {"only_a_file.asc", grid_line_fault::missing_words, ""},
      {"a.asc landuse", grid_line_fault::missing_fillcode, ""},
      {"a.asc landuse readcode = 0 defaultValue = 2", grid_line_fault::missing_fillcode, ""},
      // A key with no "=" after it is comment text.
      {"a.asc landuse fillcode 2", grid_line_fault::missing_fillcode, ""},
      {"a.asc landuse fillcode = two", grid_line_fault::bad_value, "fillcode", "two"},
      {"a.asc landuse 1 readcode =", grid_line_fault::bad_value, "readcode"},
      {"a.asc landuse 1 defaultValue = nan", grid_line_fault::bad_value, "defaultValue", "nan"},
      {"a.asc landuse 1 writecode = 99999999999", grid_line_fault::bad_value, "writecode", "99999999999"},
      {"a.asc landuse 1 outname =   ", grid_line_fault::bad_value, "outname"},
      {"a.asc landuse 1 outname = ;", grid_line_fault::bad_value, "outname"},
      {"a.asc landuse 1 periodicity = 1 D", grid_line_fault::bad_value, "periodicity"},
      {"a.asc landuse 1 periodicity = 1 D; 0", grid_line_fault::bad_value, "periodicity"},
      {"a.asc landuse 1 periodicity = D 1 0", grid_line_fault::bad_value, "periodicity", "D"},
      // Values are whole tokens, never read by their leading number.
      {"a.asc landuse 1 defaultValue = 0,2", grid_line_fault::bad_value, "defaultValue", "0,2"},
      {"a.asc landuse 1 defaultValue = 0.5x", grid_line_fault::bad_value, "defaultValue", "0.5x"},
      {"a.asc landuse fillcode = 1..2", grid_line_fault::bad_value, "fillcode", "1..2"},
      {"a.asc landuse 1 statcode = 3x;", grid_line_fault::bad_value, "statcode", "3x"},
      {"a.asc landuse 1 writecode = 60;x", grid_line_fault::bad_value, "writecode", "60;x"},
      {"a.asc landuse 1 periodicity = 1 D 2x", grid_line_fault::bad_value, "periodicity", "2x"},
      // Temporary values need their duration.
      {"a.asc landuse 1 periodicity = 1 D 0 persistent = 0", grid_line_fault::bad_value, "persistent"},
      {"a.asc landuse 1 periodicity = 1 D 0 persistent = 0 5x", grid_line_fault::bad_value, "persistent",
       "5x"},
  };
  for (const fault_case& c : cases) {
    standard_grid_definition g;
    grid_key_fault bad;
    EXPECT_EQ(ParseStandardGridLine(c.line, g, bad), c.fault) << c.line;
    EXPECT_EQ(bad.key, c.key) << c.line;
    EXPECT_EQ(bad.token, c.token) << c.line;
  }
}

// ---------------------------------------------------------------- set-up object fixture

struct SetupFixture : test::SmallDomainTest {
  SetupFixture() : SmallDomainTest(test::kNoDomain) {}
  ~SetupFixture() override {
    for (int i = 1; i < kGridTableLimit; ++i) {
      if (table[i].data) setup.FreeMatrix(table[i].data);
      table[i].data = nullptr;
    }
  }

  void OpenControlFile(const std::string& path) {
    setup.control_file_name = path;
    setup.OpenControlFile();
    ASSERT_NE(setup.control_file, nullptr) << path;
  }
};

// ---------------------------------------------------------------- grid sections

using GridSections = SetupFixture;

TEST_F(GridSections, FillTheGridTableInControlFileOrder) {
  OpenControlFile(VELMO_TEST_DATA "/zonegrids/control.txt");
  setup.ReadGridSections();

  EXPECT_EQ(setup.grid_count, 5);
  EXPECT_EQ(table[1].name, "[zone_grid]");
  EXPECT_EQ(table[1].file_name, "zones.asc");
  EXPECT_EQ(table[2].name, "[elevation_model]");
  EXPECT_EQ(table[2].file_name, "dem.asc");
  const std::vector<std::string> names = {"landuse", "albedo", "soil_types", "latitude", "longitude"};
  const std::vector<std::string> files = {"landuse.asc", "albedo.asc", "soil.asc", "lat.asc", "lon.asc"};
  for (size_t i = 0; i < names.size(); ++i) {
    const grid_entry& e = table[static_cast<int>(i) + 3];
    EXPECT_EQ(e.name, names[i]);
    EXPECT_EQ(e.file_name, files[i]);
    // Every standard grid starts its re-read state afresh.
    EXPECT_EQ(e.elapsed_periods, 0) << names[i];
    EXPECT_EQ(e.elapsed_units, 0) << names[i];
    EXPECT_EQ(e.last_unit_value, 9999) << names[i];
    EXPECT_FALSE(e.persistence_running) << names[i];
  }
  EXPECT_FALSE(table[8].in_use());

  const grid_entry& landuse = table[3];  // old form, nothing but the fill code
  EXPECT_EQ(landuse.fillcode, 1);
  EXPECT_EQ(landuse.readcode, 1);
  EXPECT_EQ(landuse.defaultValue, 0.0);
  EXPECT_EQ(landuse.write_code, 0);
  EXPECT_EQ(landuse.outname, "landuse.asc");
  EXPECT_EQ(landuse.statfile, "");
  EXPECT_EQ(landuse.period_length, -1);
  EXPECT_EQ(landuse.period_offset, -1);
  EXPECT_TRUE(landuse.persistent);

  const grid_entry& albedo = table[4];  // new form, every key
  EXPECT_EQ(albedo.fillcode, 2);
  EXPECT_EQ(albedo.readcode, 0);
  EXPECT_EQ(albedo.defaultValue, 5.5);
  EXPECT_EQ(albedo.write_code, 1238);  // raw until registered
  EXPECT_EQ(albedo.outname, "out/alb.asc");
  EXPECT_EQ(albedo.statfile, "alb.stat");  // the ";" ends the value
  EXPECT_EQ(albedo.statcode, 3);
  EXPECT_EQ(albedo.period_length, 1);
  EXPECT_EQ(albedo.period_unit, "D");
  EXPECT_EQ(albedo.period_offset, 2);
  EXPECT_FALSE(albedo.persistent);
  EXPECT_EQ(albedo.persistence_steps, 5);

  EXPECT_EQ(table[5].fillcode, 0);
  EXPECT_EQ(table[5].write_code, 3333);
  EXPECT_TRUE(table[6].persistent);  // persistent without periodicity is ignored
  EXPECT_EQ(table[7].fillcode, 2);

  EXPECT_TRUE(table[1].has_latitude_grid);
  EXPECT_EQ(table[1].latitude_grid_index, 6);
  EXPECT_TRUE(table[1].has_longitude_grid);
  EXPECT_EQ(table[1].longitude_grid_index, 7);
  EXPECT_NE(console.str().find("found latitude grid on position: 4"), std::string::npos) << console.str();
  EXPECT_NE(console.str().find("found longitude grid on position: 5"), std::string::npos) << console.str();
}

TEST_F(GridSections, FaultsAreControlFileErrors) {
  const std::string fixed = "[zone_grid]\nz.asc\n[elevation_model]\nd.asc\n";
  struct section_case {
    std::string text;
    int code;
    std::string message;
  };
  const section_case cases[] = {
      {"[elevation_model]\nd.asc\n[standard_grids]\n0\n", 17,
       "error in control file, [zone_grid]; (EOF)not found!"},
      {"[zone_grid]\n[elevation_model]\n", 17, "error in control file,  Name for ; defaultsnot found!"},
      {"[zone_grid]\nz.asc\n[standard_grids]\n0\n", 17,
       "error in control file, [elevation_model]; (EOF)not found!"},
      {fixed + "[standard_grids]\nmany\n", 17, "counter/number of grids ; defaultsnot found!"},
      {fixed + "[standard_grids]\n2\na.asc a 1\nb.asc\n", 17,
       "error in control file, \nerror reading a grid name or identifier 2 in\n; defaultsnot found!"},
      // Fewer lines than grids.
      {fixed + "[standard_grids]\n2\na.asc a 1\n", 17, "error reading a grid name or identifier 2 in\n"},
      {fixed + "[standard_grids]\n1\na.asc a readcode = 1\n", 17,
       "error in control file, \nerror reading the fillcode for standard grid 1 (found neither in old nor "
       "in new style standard grid definition) in\n; defaultsnot found!"},
      {fixed + "[standard_grids]\n1\na.asc a 1 periodicity = 1\n", 17,
       "\nerror reading the value of the key periodicity for standard grid 1 in\n"},
      {fixed + "[standard_grids]\n1\na.asc a 1 defaultValue = 0,2\n", 17,
       "\nerror reading the value of the key defaultValue (\"0,2\") for standard grid 1 in\n"},
      // Entries 1 and 2 and 997 standard grids leave no room below 1000.
      {fixed + "[standard_grids]\n998\n", 12, "no free grid in memory,(max. 1000)!"},
  };
  for (const section_case& c : cases) {
    WriteFile(dir / "control.intern", c.text + "\n");
    OpenControlFile(dir / "control.intern");
    const std::string log = ExpectCode(
        c.code, [&] { setup.ReadGridSections(); }, c.text);
    EXPECT_NE(log.find(c.message), std::string::npos) << c.text << "\n---\n" << log;
  }
}

// ---------------------------------------------------------------- domain header

// A binary grid file: twelve header values and the cells, little endian.
template <typename T>
std::string BinaryGrid(const std::vector<double>& header, const std::vector<double>& cells) {
  std::string bytes;
  for (const std::vector<double>* part : {&header, &cells}) {
    for (double v : *part) {
      unsigned char b[sizeof(T)];
      StoreLittleEndian<T>(static_cast<T>(v), b);
      bytes.append(reinterpret_cast<const char*>(b), sizeof(T));
    }
  }
  return bytes;
}

using DomainHeader = SetupFixture;

TEST_F(DomainHeader, EveryFormatGivesTheHeader) {
  const std::vector<double> header = {3.0, 2.0, 500.25, 100.0, 25.0, -9999.0, 6, 1, 6, 21, 3.5, 1.8};
  const std::vector<double> cells = {1, 2, 3, 4, 5, 6};
  struct format_case {
    const char* label;
    std::string content;
    double nodata;
  };
  const format_case cases[] = {
      {"ascii",
       "ncols 3\nnrows 2.9\nxllcorner 500.25\nyllcorner 100\ncellsize 25\nnodata_value -1\n1 2 3\n4 5 6\n",
       -1.0},
      {"ascii in capitals",
       "NCOLS 3\nNROWS 2\nXLLCORNER 500.25\nYLLCORNER 100\nCELLSIZE 25\nNODATA_VALUE -1\n1 2 3\n4 5 6\n",
       -1.0},
      {"double", BinaryGrid<double>(header, cells), -9999.0},
      {"single", BinaryGrid<float>(header, cells), -9999.0},
      // Shorter than a double header, still a single-precision grid.
      {"small single", BinaryGrid<float>(header, {1, 2}), -9999.0},
  };
  for (const format_case& c : cases) {
    WriteFile(dir / "zones.grid", c.content);
    table[1].file_name = dir / "zones.grid";
    int ncols = 0, nrows = 0;
    double xll = 0, yll = 0, size = 0, nodata = 0;
    setup.ReadDomainHeader(ncols, nrows, xll, yll, size, nodata);
    EXPECT_EQ(ncols, 3) << c.label;
    EXPECT_EQ(nrows, 2) << c.label;
    EXPECT_EQ(xll, 500.25) << c.label;
    EXPECT_EQ(yll, 100.0) << c.label;
    EXPECT_EQ(size, 25.0) << c.label;
    EXPECT_EQ(nodata, c.nodata) << c.label;
  }
}

TEST_F(DomainHeader, ReadsTheFileTheGridReaderReadsAndReArmsCtrlC) {
  std::filesystem::create_directories(dir.path() / "input");
  WriteFile(dir / "input/zones.asc",
            "ncols 2\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 10\nnodata_value -9999\n1 1\n");
  setup.InitialStateDirectory = std::make_unique<std::string>(dir / "input/");
  table[1].file_name = "zones.asc";
  int ncols = 0, nrows = 0;
  double xll = 0, yll = 0, size = 0, nodata = 0;
  ResetInterruptHandler();
  setup.ReadDomainHeader(ncols, nrows, xll, yll, size, nodata);
  EXPECT_EQ(ncols, 2);
  EXPECT_EQ(size, 10.0);

  // Ctrl-C reaches the menu afterwards, also after a failure.
  struct sigaction action {};
  sigaction(SIGINT, nullptr, &action);
  EXPECT_EQ(action.sa_handler, &OnInterrupt);
  ResetInterruptHandler();
  table[1].file_name = "missing.asc";
  ExpectCode(
      21, [&] { setup.ReadDomainHeader(ncols, nrows, xll, yll, size, nodata); }, "missing");
  sigaction(SIGINT, nullptr, &action);
  EXPECT_EQ(action.sa_handler, &OnInterrupt);
  ResetInterruptHandler();
}

TEST_F(DomainHeader, BadFilesGiveTheirEntryAndCode) {
  const std::vector<double> header = {3.0, 2.0, 0.0, 0.0, 25.0, -9999.0, 0, 0, 0, 0, 0, 0};
  std::vector<double> no_columns = header;
  no_columns[0] = 0.0;
  std::vector<double> bad_cellsize = header;
  bad_cellsize[4] = -5.0;
  struct bad_case {
    const char* label;
    std::string content;  // empty: no file
    int code;
    std::string message;
  };
  const std::string file = dir / "zones.grid";
  const bad_case cases[] = {
      {"no file", "", 21, "error opening " + file + ""},
      {"ascii value", "ncols 3\nnrows two\nxllcorner 0\n", 22, "error reading " + file + ""},
      {"ascii short", "ncols 3\n", 22, "error reading " + file + ""},
      {"ascii no cells", "ncols 0\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n", 22,
       "error reading " + file + ""},
      {"double no columns", BinaryGrid<double>(no_columns, {}), 22,
       "error reading double value from the header of " + file + ""},
      {"short file", "xyz", 22, "error reading double value from the header of " + file + ""},
      {"single cut header", BinaryGrid<float>(header, {}).substr(0, 30), 22,
       "error reading double value #8 from the header of " + file + ""},
      {"single bad cellsize", BinaryGrid<float>(bad_cellsize, {}), 22,
       "error reading double value #5 from the header of " + file + ""},
      {"unknown", std::string(200, 'x'), 22,
       "could not recognise file format (ascii, float or double) for " + file + ""},
  };
  for (const bad_case& c : cases) {
    std::filesystem::remove(file);
    if (!c.content.empty()) WriteFile(file, c.content);
    table[1].file_name = file;
    int ncols = 0, nrows = 0;
    double xll = 0, yll = 0, size = 0, nodata = 0;
    const std::string log = ExpectCode(
        c.code, [&] { setup.ReadDomainHeader(ncols, nrows, xll, yll, size, nodata); }, c.label);
    EXPECT_NE(log.find(c.message), std::string::npos) << c.label << "\n" << log;
  }
  ResetInterruptHandler();
}

// ---------------------------------------------------------------- zone ranking

TEST(ZoneRanking, CodesInAscendingOrderWithMapAndRowRanges) {
  // Codes 7, 3, 7, 12 in row order; row 2 holds no valid cell; 2.7 is zone 2.
  const owned_matrix zones = test::MatrixOf({{7, 3, N, 7}, {N, N, N, N}, {N, 12, N, 2.7}});
  zone_grid_ranking r;
  ASSERT_EQ(RankZoneGrid(zones.get(), 3, 4, N, 1000.0, r), zone_ranking_error::none);

  EXPECT_EQ(r.zone_count, 4);
  EXPECT_EQ(r.max_zone_code, 12);
  ASSERT_EQ(r.zones.size(), 5u);
  const std::vector<double> codes = {0, 2.7, 3, 7, 12};
  const std::vector<double> cells = {0, 1, 1, 2, 1};
  for (size_t z = 0; z < codes.size(); ++z) {
    EXPECT_EQ(r.zones[z].code, codes[z]) << z;
    EXPECT_EQ(r.zones[z].weight_sum, cells[z]) << z;
    EXPECT_EQ(r.zones[z].value_sum, cells[z]) << z;
    EXPECT_EQ(r.zones[z].mean_divisor, cells[z]) << z;
    if (z > 0) {
      EXPECT_DOUBLE_EQ(r.zones[z].area_fraction, cells[z] / 5.0) << z;
    }
  }
  EXPECT_DOUBLE_EQ(r.zones[0].area_fraction, 5.0);  // 5 cells of 1 km²

  std::vector<int> expected_map(13, 0);
  expected_map[2] = 1;
  expected_map[3] = 2;
  expected_map[7] = 3;
  expected_map[12] = 4;
  EXPECT_EQ(r.code_map, expected_map);

  ASSERT_EQ(r.rows.size(), 4u);
  EXPECT_EQ(r.rows[1].first, 1);
  EXPECT_EQ(r.rows[1].last, 4);
  EXPECT_EQ(r.rows[2].first, 0);  // loops over it do nothing
  EXPECT_EQ(r.rows[2].last, -1);
  EXPECT_EQ(r.rows[3].first, 2);
  EXPECT_EQ(r.rows[3].last, 4);
}

TEST(ZoneRanking, TotalAreaInSquareKilometres) {
  // 2500 cells of 1000 m in two zones.
  Rows values(50, std::vector<double>(50, 1.0));
  for (auto& row : values)
    for (size_t c = 25; c < 50; ++c) row[c] = 2.0;
  const owned_matrix zones = test::MatrixOf(values);
  zone_grid_ranking r;
  ASSERT_EQ(RankZoneGrid(zones.get(), 50, 50, N, 1000.0, r), zone_ranking_error::none);
  EXPECT_DOUBLE_EQ(r.zones[0].area_fraction, 2500.0);
  EXPECT_DOUBLE_EQ(r.zones[1].area_fraction, 0.5);
  EXPECT_DOUBLE_EQ(r.zones[2].area_fraction, 0.5);
}

TEST(ZoneRanking, LimitsOfCodesAndZones) {
  struct limit_case {
    const char* label;
    std::vector<double> row;
    zone_ranking_error error;
  };
  std::vector<double> most(16000), too_many(16001);
  for (size_t i = 0; i < too_many.size(); ++i) too_many[i] = static_cast<double>(too_many.size() - i);
  for (size_t i = 0; i < most.size(); ++i) most[i] = static_cast<double>(2 * i);
  const limit_case cases[] = {
      {"largest code", {32767, 0}, zone_ranking_error::none},
      {"code above the largest", {1, 32768}, zone_ranking_error::invalid_code},
      {"negative code", {1, -1}, zone_ranking_error::invalid_code},
      {"slightly negative is zone 0", {-0.5, 0.5}, zone_ranking_error::none},
      {"not a number", {1, std::nan("")}, zone_ranking_error::invalid_code},
      {"16000 zones", most, zone_ranking_error::none},
      {"16001 zones", too_many, zone_ranking_error::too_many_zones},
      {"all nodata", {N, N, N}, zone_ranking_error::no_valid_cell},
  };
  for (const limit_case& c : cases) {
    const owned_matrix zones = test::MatrixOf({c.row});
    zone_grid_ranking r;
    EXPECT_EQ(RankZoneGrid(zones.get(), 1, static_cast<int>(c.row.size()), N, 1.0, r), c.error) << c.label;
  }
  const owned_matrix zones = test::MatrixOf({most});
  zone_grid_ranking r;
  ASSERT_EQ(RankZoneGrid(zones.get(), 1, 16000, N, 1.0, r), zone_ranking_error::none);
  EXPECT_EQ(r.zone_count, 16000);
  EXPECT_EQ(r.max_zone_code, 31998);
  EXPECT_EQ(r.code_map[31998], 16000);
  EXPECT_EQ(r.code_map[31997], 0);
}

using ZoneRankingErrors = SetupFixture;

TEST_F(ZoneRankingErrors, GiveTheirEntryAndCode) {
  struct error_case {
    Rows rows;
    int code;
    std::string message;
  };
  const error_case cases[] = {
      {{{1, 40000}}, 3, "invalid zone code in zones.asc!\n (codes has to be between 0 and 32767)!"},
      {{{N, N}}, 7, "all cells in the zone grid zones.asc are NODATA!"},
      {{std::vector<double>(16001, 0.0)}, 4, "too much zones in zones.asc, (max. 16000)!"},
  };
  for (const error_case& c : cases) {
    Rows rows = c.rows;
    if (c.code == 4)
      for (size_t i = 0; i < rows[0].size(); ++i) rows[0][i] = static_cast<double>(i);
    const owned_matrix zones = test::MatrixOf(rows);
    table[1].file_name = "zones.asc";
    table[1].data = zones.get();
    grid_header domain;
    domain.nrows = 1;
    domain.ncols = static_cast<int>(rows[0].size());
    domain.cellsize = 1.0;
    const std::string log = ExpectCode(
        c.code, [&] { setup.RankZones(table, domain); }, c.message);
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    table[1].data = nullptr;
  }
}

// ---------------------------------------------------------------- stages 1, 6, 7 and unread grids

using ZoneGridStages = SetupFixture;

TEST_F(ZoneGridStages, SectionsHeaderZoneGridAndRankingInStageOrder) {
  // Stage 1.
  OpenControlFile(VELMO_TEST_DATA "/zonegrids/control.txt");
  setup.ReadGridSections();
  // Stage 6: header first, then the zone grid and the elevation model.
  setup.InitialStateDirectory = std::make_unique<std::string>(VELMO_TEST_DATA "/zonegrids/");
  setup.ReadDomainHeader(setup.ncols, setup.nrows, setup.xllcorner, setup.yllcorner, setup.cellsize,
                         setup.nodata_value);
  EXPECT_EQ(setup.ncols, 4);
  EXPECT_EQ(setup.nrows, 3);
  EXPECT_EQ(setup.xllcorner, 1000.5);
  EXPECT_EQ(setup.yllcorner, 2000.0);
  EXPECT_EQ(setup.cellsize, 1000.0);
  EXPECT_EQ(setup.nodata_value, -9999.0);
  for (int i = 1; i <= 2; ++i) {
    double** data = nullptr;
    setup.ReadGrid(table[i].file_name, data, 0, true, true, table[i].defaultValue, i == 2, true, 1, true);
    setup.RegisterGrid(i, table[i].file_name, data, nullptr, 1, table[i].name, table[i].write_code, 1,
                       setup.nrows);
  }
  EXPECT_EQ(table[2].data[3][4], 430.0);
  EXPECT_EQ(setup.FindGrid("landuse", true), 3);

  // Stage 7.
  console.str("");
  grid_header domain{setup.ncols,     setup.nrows,    setup.xllcorner,
                     setup.yllcorner, setup.cellsize, setup.nodata_value};
  setup.RankZones(table, domain);
  EXPECT_NE(console.str().find("ranking zones from zones.asc for defaults"), std::string::npos)
      << console.str();
  ASSERT_EQ(setup.zone_count, 4);
  EXPECT_EQ(setup.max_zone_code, 12);
  ASSERT_EQ(setup.zone_table, setup.zone_records.data());
  ASSERT_EQ(setup.zone_code_map, setup.zone_codes.data());
  ASSERT_EQ(setup.row_ranges, setup.row_range_list.data());
  EXPECT_EQ(setup.zone_table[1].code, 2.7);
  EXPECT_EQ(setup.zone_table[4].code, 12.9);
  EXPECT_EQ(setup.zone_code_map[3], 2);
  EXPECT_EQ(setup.zone_table[2].weight_sum, 2.0);
  EXPECT_DOUBLE_EQ(setup.zone_table[0].area_fraction, 6.0);
  EXPECT_EQ(setup.row_ranges[2].first, 0);
  EXPECT_EQ(setup.row_ranges[2].last, -1);
  EXPECT_EQ(setup.row_ranges[3].last, 4);

  const model_settings settings = setup.GetSettings();
  EXPECT_EQ(settings.zone_table, setup.zone_records.data());
  EXPECT_EQ(settings.zone_count, 4);
  EXPECT_EQ(settings.grid_count, 5);

  // Stage 8 creates the unread "albedo" (readcode 0, defaultValue 5.5).
  double** albedo = setup.matrix(1, setup.nrows, 1, setup.ncols, setup.nrows);
  FillUnreadGrid(albedo, table[1].data, setup.nrows, setup.ncols, setup.nodata_value, table[4].defaultValue);
  table[4].data = albedo;
  EXPECT_EQ(albedo[1][1], 5.5);
  EXPECT_EQ(albedo[1][3], N);
  EXPECT_EQ(albedo[2][2], N);
  EXPECT_EQ(albedo[3][4], 5.5);
}

}  // namespace
}  // namespace velmo
