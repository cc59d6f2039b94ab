// netCDF grid files: the writer's layout and failures, the reader's layouts,
// unpacking and failures, and netCDF grids and stacks read onto the domain.
#include "framework/netcdfgrid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <sstream>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/netcdf_classic.h"
#include "support/test_support.h"

namespace velmo {
namespace {

using test::TempDir;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr double kNodata = -9999.0;
const double kNan = std::numeric_limits<double>::quiet_NaN();

// Builds netCDF files of other layouts, and reads what a file holds.
class NcFile {
 public:
  // mode: NC_NOWRITE to read, else the create mode.
  NcFile(const std::string& path, int mode) {
    const int status = mode == NC_NOWRITE ? nc_open(path.c_str(), NC_NOWRITE, &id)
                                          : nc_create(path.c_str(), mode | NC_CLOBBER, &id);
    EXPECT_EQ(status, NC_NOERR) << path << ": " << nc_strerror(status);
  }
  ~NcFile() { nc_close(id); }
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;

  int Dim(const std::string& name, size_t length) {
    int dim = -1;
    EXPECT_EQ(nc_def_dim(id, name.c_str(), length, &dim), NC_NOERR) << name;
    return dim;
  }
  int Var(const std::string& name, nc_type type, std::vector<int> dims) {
    int var = -1;
    EXPECT_EQ(nc_def_var(id, name.c_str(), type, static_cast<int>(dims.size()), dims.data(), &var), NC_NOERR)
        << name;
    return var;
  }
  void Att(int var, const std::string& name, nc_type type, double value) {
    EXPECT_EQ(nc_put_att_double(id, var, name.c_str(), type, 1, &value), NC_NOERR) << name;
  }
  void Text(int var, const std::string& name, const std::string& text) {
    EXPECT_EQ(nc_put_att_text(id, var, name.c_str(), text.size(), text.c_str()), NC_NOERR) << name;
  }
  void Put(int var, const std::vector<double>& values) {
    nc_enddef(id);  // classic files leave define mode once
    EXPECT_EQ(nc_put_var_double(id, var, values.data()), NC_NOERR);
  }

  int VarId(const std::string& name) const {
    int var = -1;
    return nc_inq_varid(id, name.c_str(), &var) == NC_NOERR ? var : -1;
  }
  size_t DimLength(const std::string& name) const {
    int dim = -1;
    size_t length = 0;
    nc_inq_dimid(id, name.c_str(), &dim);
    nc_inq_dimlen(id, dim, &length);
    return length;
  }
  std::vector<std::string> DimNames(const std::string& var) const {
    int rank = 0;
    nc_inq_varndims(id, VarId(var), &rank);
    std::vector<int> dims(static_cast<size_t>(rank));
    nc_inq_vardimid(id, VarId(var), dims.data());
    std::vector<std::string> names;
    for (int d : dims) {
      char name[NC_MAX_NAME + 1];
      nc_inq_dimname(id, d, name);
      names.emplace_back(name);
    }
    return names;
  }
  nc_type Type(const std::string& var, const std::string& attribute = "") const {
    nc_type type = NC_NAT;
    if (attribute.empty()) {
      nc_inq_vartype(id, VarId(var), &type);
    } else {
      nc_inq_atttype(id, VarId(var), attribute.c_str(), &type);
    }
    return type;
  }
  double NumberAtt(const std::string& var, const std::string& attribute) const {
    double value = kNan;
    nc_get_att_double(id, VarId(var), attribute.c_str(), &value);
    return value;
  }
  std::string TextAtt(const std::string& var, const std::string& attribute) const {
    size_t length = 0;
    if (nc_inq_attlen(id, VarId(var), attribute.c_str(), &length) != NC_NOERR) return "(none)";
    std::string text(length, '\0');
    nc_get_att_text(id, VarId(var), attribute.c_str(), text.data());
    return text;
  }
  std::vector<double> Values(const std::string& var) const {
    int rank = 0;
    nc_inq_varndims(id, VarId(var), &rank);
    size_t count = 1;
    for (const std::string& dim : DimNames(var)) count *= DimLength(dim);
    std::vector<double> values(count);
    nc_get_var_double(id, VarId(var), values.data());
    return values;
  }

  int id = -1;
};

// A model object on a domain of 3 columns and 2 rows, corner 1000/2000,
// cells of 100 m.
struct NetcdfTest : test::ModelObjectTest {
  test::WorkingDirectory in_dir{dir.path()};

  NetcdfTest() { SetDomain(3, 2, 1000.0, 2000.0, 100.0, kNodata); }

  // A domain grid of the values, row by row from the north.
  double** Grid(const std::vector<double>& cells) {
    test::Rows rows(object.nrows);
    for (int r = 0; r < object.nrows; ++r)
      for (int c = 0; c < object.ncols; ++c) rows[r].push_back(cells.at(r * object.ncols + c));
    return ModelObjectTest::Grid(rows);
  }
  // ReadGrid's cells, row by row from the north.
  std::vector<double> Read(const std::string& name) { return ReadCells(name); }
  // One record straight from the reader.
  std::vector<double> Record(const std::string& record_path, netcdf_record_info& info, int record = 0) {
    std::vector<double> values;
    std::string text = record_path;
    object.netcdf_reader->ReadRecord(values, text, info, record);
    return values;
  }
};

// The grid 1 2 3 / 4 5 6 in record order (column by column, north first).
const std::vector<double> kRecordOrder = {1, 4, 2, 5, 3, 6};

TEST(NetcdfNames, VariableNamesComeFromTheFileName) {
  struct {
    std::string path;
    std::string name;
    std::string without_dots;
  } cases[] = {{"d:\\results\\snow_cover-1.asc", "snowcover1", "snow_cover-1asc"},
               {"out/temp.2010.grd", "temp", "temp2010grd"},
               {"in/tair.1990.nc", "tair", "tair1990nc"},
               {"a/b\\c_d", "cd", "c_d"},
               {"plain", "plain", "plain"}};
  for (const auto& c : cases) {
    EXPECT_EQ(VarNameFromPath(c.path), c.name) << c.path;
    EXPECT_EQ(VarNameFromPathNoDots(c.path), c.without_dots) << c.path;
  }
  EXPECT_EQ(AddNcExtension("results/tmp_max.asc"), "results/tmp_max.asc.nc");
}

TEST_F(NetcdfTest, EveryWriteAppendsARecordOfTheGridLayout) {
  std::filesystem::create_directory("results");
  double** grid = Grid({1, 2, 3, 4, 5, 6});
  object.WriteGrid("results/tmp_max.asc", grid, false, false, true);
  grid[1][2] = 20.0;
  object.WriteGrid("results/tmp_max.asc", grid, false, false, true);
  double* keep = grid[2];
  grid[2] = nullptr;  // a missing row is written as nodata
  object.WriteGrid("results/tmp_max.asc", grid, false, false, true);
  grid[2] = keep;
  ASSERT_FALSE(std::filesystem::exists("results/tmp_max.asc"));

  NcFile file("results/tmp_max.asc.nc", NC_NOWRITE);
  int format = 0;
  nc_inq_format(file.id, &format);
  EXPECT_EQ(format, NC_FORMAT_NETCDF4);
  EXPECT_EQ(file.DimLength("x"), 3u);
  EXPECT_EQ(file.DimLength("y"), 2u);
  EXPECT_EQ(file.DimLength("t"), 3u);
  int unlimited = -1, t_dim = -1;
  nc_inq_unlimdim(file.id, &unlimited);
  nc_inq_dimid(file.id, "t", &t_dim);
  EXPECT_EQ(unlimited, t_dim);

  // Corner coordinates, y falling from the north.
  EXPECT_THAT(file.Values("x"), ElementsAre(1000, 1100, 1200));
  EXPECT_THAT(file.Values("y"), ElementsAre(2100, 2000));
  EXPECT_THAT(file.Values("t"), ElementsAre(0, 1, 2));
  EXPECT_EQ(file.TextAtt("x", "units"), "m East of reference point");
  EXPECT_EQ(file.TextAtt("y", "units"), "m North of reference point");
  EXPECT_EQ(file.TextAtt("t", "long_name"), "record number");
  EXPECT_EQ(file.VarId("lat"), -1);
  EXPECT_EQ(file.VarId("lon"), -1);

  EXPECT_THAT(file.DimNames("tmpmax"), ElementsAre("t", "x", "y"));
  EXPECT_EQ(file.Type("tmpmax"), NC_FLOAT);
  EXPECT_EQ(file.Type("tmpmax", "missing_value"), NC_DOUBLE);
  EXPECT_EQ(file.NumberAtt("tmpmax", "missing_value"), kNodata);
  EXPECT_EQ(file.Type("tmpmax", "default_cellsize"), NC_DOUBLE);
  EXPECT_EQ(file.NumberAtt("tmpmax", "default_cellsize"), 100.0);
  EXPECT_EQ(file.Type("tmpmax", "_FillValue"), NC_FLOAT);
  EXPECT_EQ(file.NumberAtt("tmpmax", "_FillValue"), kNodata);
  EXPECT_EQ(file.TextAtt("tmpmax", "long_name"), "tmp_max.asc");
  for (const char* var : {"x", "y", "tmpmax"}) {
    int shuffle = -1, deflate = -1, level = -1;
    nc_inq_var_deflate(file.id, file.VarId(var), &shuffle, &deflate, &level);
    EXPECT_EQ(shuffle, 0) << var;
    EXPECT_EQ(deflate, 1) << var;
    EXPECT_EQ(level, 3) << var;
  }
  EXPECT_THAT(file.Values("tmpmax"), ElementsAre(1, 4, 2, 5, 3, 6,   //
                                                 1, 4, 20, 5, 3, 6,  //
                                                 1, kNodata, 20, kNodata, 3, kNodata));
}

TEST_F(NetcdfTest, TheFirstWriteOfARunReplacesAnyEarlierFile) {
  test::WriteFile("old.asc.nc", "left by an earlier run");
  double** grid = Grid({1, 2, 3, 4, 5, 6});
  object.WriteGrid("old.asc", grid, false, true, true);
  object.WriteGrid("old.asc", grid, false, true, true);
  // Another model object writing the same name starts the file anew too.
  modelobject other(&ms, "none");
  other.ncols = 3;
  other.nrows = 2;
  other.cellsize = 100.0;
  other.nodata_value = kNodata;
  other.WriteGrid("old.asc", grid, false, true, true);
  NcFile file("old.asc.nc", NC_NOWRITE);
  EXPECT_EQ(file.DimLength("t"), 1u);
  EXPECT_EQ(file.Type("old"), NC_DOUBLE);
  EXPECT_EQ(file.Type("old", "_FillValue"), NC_DOUBLE);
}

TEST_F(NetcdfTest, LatitudesAndLongitudesComeFromTheDomainsGrids) {
  double** latitudes = Grid({47.1, 47.1, 47.1, 47.0, 47.0, 47.0});
  double** longitudes = Grid({8.0, 8.1, 8.2, 8.0, 8.1, 8.2});
  table[1].name = "[zone_grid]";
  table[1].has_latitude_grid = table[1].has_longitude_grid = true;
  table[1].latitude_grid_index = 3;
  table[1].longitude_grid_index = 4;
  table[3].data = latitudes;
  table[4].data = longitudes;
  object.WriteGrid("g.asc", Grid({1, 2, 3, 4, 5, 6}), false, false, true);
  NcFile file("g.asc.nc", NC_NOWRITE);
  EXPECT_THAT(file.DimNames("lat"), ElementsAre("x", "y"));
  EXPECT_THAT(file.Values("lat"), ElementsAre(47.1, 47.0, 47.1, 47.0, 47.1, 47.0));
  EXPECT_THAT(file.Values("lon"), ElementsAre(8.0, 8.0, 8.1, 8.1, 8.2, 8.2));
  EXPECT_EQ(file.TextAtt("lat", "units"), "degrees north");
  EXPECT_EQ(file.TextAtt("lon", "units"), "degrees east");
  // The reader does not take them for the grid.
  netcdf_record_info info;
  EXPECT_EQ(Record("g.asc.nc", info), kRecordOrder);
}

TEST_F(NetcdfTest, AFailedWriteIsReportedAndLeavesNoHalfFile) {
  double** grid = Grid({1, 2, 3, 4, 5, 6});
  EXPECT_THAT(ExpectCode(26, [&] { object.WriteGrid("no/such/dir.asc", grid, false, false, true); }),
              HasSubstr("error creating no/such/dir.asc.nc for writing in netCDF: "));
  // A variable named like a coordinate cannot be defined: the new file goes.
  for (const char* name : {"x.asc", "t.asc"}) {
    EXPECT_THAT(ExpectCode(26, [&] { object.WriteGrid(name, grid, false, false, true); }),
                HasSubstr(std::string("error creating ") + name + ".nc for writing in netCDF: NetCDF: "));
    EXPECT_FALSE(std::filesystem::exists(std::string(name) + ".nc")) << name;
  }
  // A failed append keeps the records written before it.
  object.WriteGrid("kept.asc", grid, false, false, true);
  const std::vector<float> wider(8, 1.0f);
  EXPECT_THAT(ExpectCode(26,
                         [&] {
                           object.netcdf_writer->WriteRecord(false, nullptr, wider.data(), "kept.asc.nc",
                                                             "kept", 2, 4, kNodata, 100.0);
                         }),
              HasSubstr("error creating kept.asc.nc for writing in netCDF: "));
  netcdf_record_info info;
  EXPECT_EQ(Record("kept.asc.nc", info), kRecordOrder);
}

TEST_F(NetcdfTest, GridsReadBackBitForBit) {
  std::mt19937_64 random(28);
  std::uniform_real_distribution<double> any(-1e6, 1e6);
  std::vector<double> cells = {any(random), kNodata, any(random), any(random), any(random), 1.0 / 3.0};
  object.WriteGrid("exact.asc", Grid(cells), false, true, true);
  EXPECT_EQ(Read("exact.asc.nc"), cells);
  EXPECT_EQ(Read("exact.asc.nc<exact>0"), cells);
  // Single precision keeps what a float holds.
  object.WriteGrid("single.asc", Grid(cells), false, false, true);
  const std::vector<double> singles = Read("single.asc.nc");
  for (size_t i = 0; i < cells.size(); ++i)
    EXPECT_EQ(singles[i], static_cast<double>(static_cast<float>(cells[i])));
  // The reader gives the writer's raster back.
  netcdf_record_info info;
  Record("exact.asc.nc", info);
  EXPECT_EQ(info.ncols, 3);
  EXPECT_EQ(info.nrows, 2);
  EXPECT_EQ(info.xllcorner, 1000.0);
  EXPECT_EQ(info.yllcorner, 2000.0);
  EXPECT_EQ(info.cellsize, 100.0);
  EXPECT_EQ(info.record_count, 1);
}

TEST_F(NetcdfTest, TheRecordPathNamesVariableAndRecord) {
  // Thirteen records of "tair" in "temperature.nc"; record k holds k everywhere.
  std::filesystem::create_directory("in");
  object.InitialStateDirectory = std::make_unique<std::string>("in/");
  NetcdfGridWriter& writer = *object.netcdf_writer;
  for (int k = 0; k <= 12; ++k) {
    const std::vector<double> record(6, k);
    writer.WriteRecord(true, record.data(), nullptr, "in/temperature.nc", "tair", 2, 3, kNodata, 100.0);
  }
  EXPECT_EQ(Read("temperature.nc<tair>12"), std::vector<double>(6, 12.0));
  EXPECT_EQ(Read("temperature.nc<tair>"), std::vector<double>(6, 0.0));
  // Without a variable name the first grid variable is taken, once with a hint.
  EXPECT_EQ(Read("temperature.nc"), std::vector<double>(6, 0.0));
  Read("temperature.nc");
  const std::string hint = "netcdf input file names should be provided as filename<varname>timestep";
  const std::string out = console.str();
  EXPECT_EQ(out.find(hint), out.rfind(hint));
  EXPECT_NE(out.find(hint), std::string::npos);
  // The file stays open for the next read.
  EXPECT_EQ(object.netcdf_reader->open_files.size(), 1u);
  object.netcdf_reader->CloseAll();
  EXPECT_TRUE(object.netcdf_reader->open_files.empty());
}

TEST_F(NetcdfTest, OtherLayoutsGiveTheSameRecord) {
  // (t, y, x) with y rising: rows from the south.
  {
    NcFile file("rising.nc", NC_NETCDF4);
    const int t = file.Dim("time", 1), y = file.Dim("y", 2), x = file.Dim("x", 3);
    const int v = file.Var("v", NC_DOUBLE, {t, y, x});
    const int yv = file.Var("y", NC_DOUBLE, {y});
    const int xv = file.Var("x", NC_DOUBLE, {x});
    file.Put(yv, {2000, 2100});
    file.Put(xv, {1000, 1100, 1200});
    file.Put(v, {4, 5, 6, 1, 2, 3});
  }
  // GDAL's way: a 2-D variable over (lat, lon) with cell centres, in a CF file.
  {
    NcFile file("dem.nc", NC_CLASSIC_MODEL);
    const int lat = file.Dim("lat", 2), lon = file.Dim("lon", 3);
    const int band = file.Var("Band1", NC_FLOAT, {lat, lon});
    const int latv = file.Var("lat", NC_DOUBLE, {lat});
    const int lonv = file.Var("lon", NC_DOUBLE, {lon});
    file.Text(NC_GLOBAL, "Conventions", "CF-1.5");
    file.Put(latv, {2050, 2150});
    file.Put(lonv, {1050, 1150, 1250});
    file.Put(band, {4, 5, 6, 1, 2, 3});
  }
  // (t, x, y) with y rising: each column from the south.
  {
    NcFile file("columns.nc", NC_NETCDF4);
    const int t = file.Dim("t", 1), x = file.Dim("x", 3), y = file.Dim("y", 2);
    const int v = file.Var("v", NC_DOUBLE, {t, x, y});
    file.Put(file.Var("y", NC_DOUBLE, {y}), {2000, 2100});
    file.Put(v, {4, 1, 5, 2, 6, 3});
  }
  for (const char* name : {"rising.nc<v>0", "dem.nc<Band1>0", "columns.nc<v>0"}) {
    netcdf_record_info info;
    EXPECT_EQ(Record(name, info), kRecordOrder) << name;
    EXPECT_EQ(info.ncols, 3) << name;
    EXPECT_EQ(info.nrows, 2) << name;
    EXPECT_EQ(info.yllcorner, 2000.0) << name;
    EXPECT_EQ(info.cellsize, 100.0) << name;
    EXPECT_EQ(info.record_count, 1) << name;
  }
  netcdf_record_info info;
  Record("dem.nc", info);  // found by the fallback, not taken for "lat"
  EXPECT_EQ(info.xllcorner, 1000.0);
}

TEST_F(NetcdfTest, PackedValuesAreUnpackedAndMissingCellsFoundFirst) {
  {
    NcFile file("packed.nc", NC_NETCDF4);
    const int t = file.Dim("t", 1), x = file.Dim("x", 3), y = file.Dim("y", 2);
    file.Put(file.Var("y", NC_DOUBLE, {y}), {2100, 2000});
    const int v = file.Var("p", NC_SHORT, {t, x, y});
    file.Att(v, "scale_factor", NC_DOUBLE, 0.01);
    file.Att(v, "add_offset", NC_DOUBLE, 273.15);
    file.Att(v, "missing_value", NC_SHORT, -32767);
    file.Put(v, {1500, -32767, 0, 1, -1500, 2});
  }
  {
    // xarray marks missing floats with a NaN fill value.
    NcFile file("filled.nc", NC_NETCDF4);
    const int t = file.Dim("t", 1), x = file.Dim("x", 3), y = file.Dim("y", 2);
    file.Put(file.Var("y", NC_DOUBLE, {y}), {2100, 2000});
    const int nan_fill = file.Var("n", NC_FLOAT, {t, x, y});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    nc_def_var_fill(file.id, nan_fill, NC_FILL, &nan);
    const int minus_one = file.Var("m", NC_FLOAT, {t, x, y});
    file.Att(minus_one, "_FillValue", NC_FLOAT, -1.0);
    file.Put(nan_fill, {1, kNan, 2, 3, 4, 5});
    file.Put(minus_one, {1, -1, 2, 3, 4, -1});
  }
  netcdf_record_info info;
  const std::vector<double> packed = Record("packed.nc", info);
  EXPECT_DOUBLE_EQ(packed[0], 288.15);
  EXPECT_TRUE(std::isnan(packed[1]));  // not -54.67
  EXPECT_DOUBLE_EQ(packed[2], 273.15);
  EXPECT_DOUBLE_EQ(packed[4], 258.15);
  EXPECT_EQ(info.missing_value, -32767.0);
  EXPECT_THAT(Read("packed.nc"), ElementsAre(::testing::DoubleEq(288.15), ::testing::DoubleEq(273.15),
                                             ::testing::DoubleEq(258.15), kNodata,
                                             ::testing::DoubleEq(273.16), ::testing::DoubleEq(273.17)));
  EXPECT_THAT(Read("filled.nc<n>0"), ElementsAre(1, 2, 4, kNodata, 3, 5));
  EXPECT_THAT(Read("filled.nc<m>0"), ElementsAre(1, 2, 4, kNodata, 3, kNodata));
}

TEST_F(NetcdfTest, UnreadableRecordsEndTheRunNamingTheFault) {
  {
    NcFile file("f.nc", NC_NETCDF4);
    const int t = file.Dim("t", 2), x = file.Dim("x", 3), y = file.Dim("y", 2), z = file.Dim("band", 1);
    file.Put(file.Var("grid", NC_DOUBLE, {t, x, y}), std::vector<double>(12, 1.0));
    file.Put(file.Var("line", NC_DOUBLE, {x}), {1, 2, 3});
    file.Put(file.Var("cube", NC_DOUBLE, {t, z, x, y}), std::vector<double>(12, 1.0));
    file.Put(file.Var("odd", NC_DOUBLE, {t, z, x}), std::vector<double>(6, 1.0));
  }
  const std::string exception = "exception occured when reading from netCDF file f.nc. Internal message is: ";
  struct {
    std::string record_path;
    std::string message;
  } cases[] = {
      {"f.nc<v>0", "cannot find variable \"v\" in file \"f.nc\" for reading from netCDF."},
      {"f.nc<grid>2", exception + "record 2 requested, but variable \"grid\" holds 2 record(s)"},
      {"f.nc<grid>-1", exception + "record -1 requested"},
      {"f.nc<grid>99999999999", exception + "record -1 requested"},
      {"f.nc<line>0", exception + "variable \"line\" has the dimensions (x), but a grid needs"},
      {"f.nc<cube>0", exception + "variable \"cube\" has the dimensions (t, band, x, y)"},
      {"f.nc<odd>0", exception + "variable \"odd\" has the dimensions (t, band, x)"},
      {"none.nc", "exception occured when reading from netCDF file none.nc. Internal message is: "},
  };
  for (const auto& c : cases) {
    netcdf_record_info info;
    EXPECT_THAT(ExpectCode(26, [&] { Record(c.record_path, info); }), HasSubstr(c.message)) << c.record_path;
  }
  EXPECT_EQ(object.netcdf_reader->open_files.count("none.nc"), 0u);
}

// A classic file whose header claims more than the file holds is refused
// before the library opens it: the library would copy or loop over what the
// header claims, or read zeros past the end of a file cut short.
TEST_F(NetcdfTest, ClassicHeadersThatClaimMoreThanTheFileHolds) {
  const auto write = [](const std::string& path, int mode) {
    NcFile file(path, mode);
    const int t = file.Dim("t", NC_UNLIMITED), x = file.Dim("x", 3), y = file.Dim("y", 2);
    file.Text(NC_GLOBAL, "title", "rain");
    const int v = file.Var("grid", NC_SHORT, {t, x, y});
    file.Att(v, "missing_value", NC_SHORT, -1);
    const int w = file.Var("w", NC_DOUBLE, {t, x, y});
    nc_enddef(file.id);
    const std::vector<double> values(12, 3.0);
    const size_t start[] = {0, 0, 0}, count[] = {2, 3, 2};
    EXPECT_EQ(nc_put_vara_double(file.id, v, start, count, values.data()), NC_NOERR);
    EXPECT_EQ(nc_put_vara_double(file.id, w, start, count, values.data()), NC_NOERR);
  };
  const auto bytes = [](const std::string& path) { return test::ReadFile(path); };
  // A big-endian word of four bytes written at `at`.
  const auto word = [](std::string text, size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) text[at + static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
    return text;
  };
  const auto fault = [](const std::string& text) {
    std::istringstream in(text);
    return ClassicNetcdfFault(in, text.size());
  };

  // Every classic version, and netCDF-4, passes whole.
  for (const int mode : {NC_CLASSIC_MODEL, NC_64BIT_OFFSET, NC_64BIT_DATA, NC_NETCDF4}) {
    write("whole.nc", mode);
    EXPECT_EQ(ClassicNetcdfFault("whole.nc"), "") << mode;
    const std::string whole = bytes("whole.nc");
    if (mode != NC_NETCDF4)
      EXPECT_THAT(fault(whole.substr(0, whole.size() - 1)), HasSubstr("the file is cut short")) << mode;
  }

  write("c.nc", NC_CLASSIC_MODEL);
  const std::string whole = bytes("c.nc");
  const size_t attribute = whole.find("missing_value");
  const size_t grid = whole.find("grid");
  ASSERT_NE(attribute, std::string::npos);
  const struct {
    std::string what, text, message;
  } cases[] = {
      {"cut in the data", whole.substr(0, whole.size() - 8),
       "the file is cut short: its header places the values of \"w\" (2 records) up to byte " +
           std::to_string(whole.size()) + ", but it holds " + std::to_string(whole.size() - 8) + " bytes"},
      {"more records", word(whole, 4, 3), "the values of \"grid\" (3 records)"},
      {"cut in the header", whole.substr(0, attribute + 4),
       "the header claims more than the file of " + std::to_string(attribute + 4) +
           " bytes holds: it claims 1 attributes of the variable \"grid\""},
      {"an attribute of 2^31 values", word(whole, attribute + 16 + 4, 0x7FFFFFFF),
       "the attribute \"missing_value\" of the variable \"grid\" claims 2147483647 values, more than the "
       "file "
       "holds"},
      {"an attribute of no type", word(whole, attribute + 16, 9),
       "the attribute \"missing_value\" of the "
       "variable \"grid\" is of no type"},
      {"2^31 dimensions", word(whole, 12, 0x7FFFFFFF), "it claims 2147483647 dimensions"},
      {"a name of 2^31 characters", word(whole, 16, 0x7FFFFFFF), "the name of a dimension runs past the end"},
      {"a dimension that does not exist", word(whole, grid + 4 + 4, 5),
       "the variable \"grid\" has a dimension that does not exist"},
  };
  for (const auto& c : cases) EXPECT_THAT(fault(c.text), HasSubstr(c.message)) << c.what;

  // Through the reader: code 26 before the library opens the file.
  test::WriteFile("cut.nc", whole.substr(0, whole.size() - 8));
  netcdf_record_info info;
  EXPECT_THAT(
      ExpectCode(26, [&] { Record("cut.nc<grid>0", info); }),
      HasSubstr("exception occured when reading from netCDF file cut.nc. Internal message is: the file "
                "is cut short"));
  EXPECT_EQ(object.netcdf_reader->open_files.count("cut.nc"), 0u);
}

TEST_F(NetcdfTest, AReaderHoldsAtMostAThousandFiles) {
  {
    NcFile file("one.nc", NC_CLASSIC_MODEL);
    const int x = file.Dim("x", 3), y = file.Dim("y", 2);
    const int y_var = file.Var("y", NC_DOUBLE, {y});
    const int one = file.Var("one", NC_DOUBLE, {x, y});
    file.Put(y_var, {2100, 2000});
    file.Put(one, kRecordOrder);
  }
  std::filesystem::create_directory("links");
  netcdf_record_info info;
  for (int k = 1; k <= kMaxOpenNetcdfFiles + 1; ++k)
    std::filesystem::create_symlink("../one.nc", "links/" + std::to_string(k) + ".nc");
  for (int k = 1; k <= kMaxOpenNetcdfFiles; ++k) Record("links/" + std::to_string(k) + ".nc<one>0", info);
  EXPECT_THAT(ExpectCode(1100, [&] { Record("links/1001.nc<one>0", info); }),
              HasSubstr("more than 1000 different netCDF files can not be hold open at the same time."));
  // Files already open are read on.
  EXPECT_EQ(Record("links/7.nc<one>0", info), kRecordOrder);
}

TEST_F(NetcdfTest, RecordsOfAnotherSizeNeedAGeoreference) {
  {
    // A 2 x 2 grid of 50 m cells without coordinates (so rows from the
    // south), its south-east cell missing.
    NcFile file("fine.nc", NC_NETCDF4);
    const int x = file.Dim("x", 2), y = file.Dim("y", 2);
    file.Put(file.Var("fine", NC_DOUBLE, {x, y}), {8, 8, kNan, 8});
  }
  double** m = nullptr;
  EXPECT_THAT(
      ExpectCode(22, [&] { object.ReadGrid("fine.nc", m, 0, true, false, 0, false); }),
      HasSubstr("error assigning cell values from a netCDF file to Velmo grids from file fine.nc. number "
                "of columns (2) and/or rows (2) in nc-file not matching those in Velmo (3 and 2 resp.)."));
  // The georeference gives the centre of the lower-left cell. The northern
  // row samples the record's northern row; every southern sample has the
  // missing cell among its neighbours.
  object.SetSourceGeoreference(1000.0, 2000.0, 50.0, nullptr);
  EXPECT_THAT(Read("fine.nc"), ElementsAre(8, 8, 8, kNodata, kNodata, kNodata));

  // On the domain's size without georeference the zone grid cuts the record.
  object.SetSourceGeoreference(9999.0, 9999.0, 9999.0, nullptr);
  object.WriteGrid("whole.asc", Grid({1, 2, 3, 4, 5, 6}), false, true, true);
  table[1].name = "[zone_grid]";
  table[1].data = Grid({1, 1, kNodata, 1, 1, 1});
  EXPECT_THAT(Read("whole.asc.nc"), ElementsAre(1, 2, kNodata, 4, 5, 6));
}

TEST_F(NetcdfTest, StacksAreWrittenAndReadAsOneRecordPerLevel) {
  constexpr int kLevels = 3;
  double*** stack = object.Matrix3D(1, 2, 1, 3, kLevels, 2);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c)
      for (int l = 0; l <= kLevels; ++l) stack[r][c][l] = r * 100 + c * 10 + l;
  object.WriteStack("firn.stk", stack, kLevels, false, true, true);
  {
    NcFile file("firn.stk.nc", NC_NOWRITE);
    EXPECT_EQ(file.DimLength("t"), 4u);
  }
  double*** read = nullptr;
  EXPECT_EQ(object.ReadStack("firn.stk.nc", read), kLevels);
  for (int r = 1; r <= 2; ++r)
    for (int c = 1; c <= 3; ++c)
      for (int l = 0; l <= kLevels; ++l) EXPECT_EQ(read[r][c][l], stack[r][c][l]);
  object.Free3DMatrix(read);

  // A stack of another raster is refused.
  table[1].file_name = "zones.asc";
  object.cellsize = 50.0;
  read = nullptr;
  EXPECT_THAT(
      ExpectCode(24, [&] { object.ReadStack("firn.stk.nc", read); }),
      HasSubstr("Error: firn.stk.nc has not the specified stack measures (in tester)\nzones.asc <--vs.--> "
                "firn.stk.nc\n expected ncols: 3 <-> read from stack: 3\n expected nrows: 2 <-> read from "
                "stack: 2\n expected xll:   1000 <-> read from stack: 1000\n expected yll:   2000 <-> read "
                "from stack: 2000\n expected cs:50 <-> read from stack: 100\n expected levels:3 <-> read "
                "from stack: 4\n\n netCDF stacks that are not meteorologic input data"));
  EXPECT_EQ(read, nullptr);
  object.cellsize = 100.0;
  object.Free3DMatrix(stack);
}

}  // namespace
}  // namespace velmo
