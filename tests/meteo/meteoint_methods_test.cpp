// The interpolator's regression and mesh methods (2, 3, 5 to 8, 10, 11) on a
// 25 x 35 domain of 100 m cells: fields the methods reproduce exactly, the
// fallbacks to distance weighting, the regression files and the access of
// the precipitation correction.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>

#include "framework/gridio.h"
#include "meteo/meteo_fixture.h"
#include "meteo/meteoint.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

using test::MeteoDomain;
using test::station;
using test::WriteFile;

constexpr int kCols = 25;
constexpr int kRows = 35;
constexpr double kCell = 100.0;
// Cells are located by their lower-left corner; from -50 those lie on the
// multiples of 100 plus 50 that the meshes below use.
constexpr double kCorner = -50.0;
constexpr double kDomainNodata = -9999.0;
constexpr double kNodata = 9999.0;  // N of the sections

double Linear(double x, double y) { return 10 + 0.002 * x - 0.001 * y; }

// Three columns (x 50, 1050, 2050) of four stations (y 50 ... 3050) at 500 m.
std::vector<station> Mesh(const std::vector<double>& columns = {50, 1050, 2050}) {
  std::vector<station> stations;
  for (double y : {3050.0, 2050.0, 1050.0, 50.0})
    for (double x : columns) stations.push_back({x, y, 500.0});
  return stations;
}

class MeshDomain : public test::MessagesTest {
 public:
  MeshDomain() {
    grid("zones", 1, [](double, double) { return 1.0; });
    grid("dem", 2, [](double, double) { return 500.0; });
    grid("RelCellArea", 3, [](double, double) { return 1.0; });
    grid("CoordX", 4, [](double x, double) { return x; });
    grid("CoordY", 5, [](double, double y) { return y; });
    zones[1].code = 1;
    zones[1].area_fraction = 1.0;
    ranges.assign(kRows + 1, row_range{1, kCols});
    settings.control_file_name = dir / "meteo.ctl";
    settings.timestep = 60;
    settings.zone_table = zones;
    settings.zone_code_map = zone_map;
    settings.zone_count = 1;
    settings.max_zone_code = 1;
    settings.row_ranges = ranges.data();
    settings.ncols = kCols;
    settings.nrows = kRows;
    settings.first_row = 1;
    settings.last_row = kRows;
    settings.xllcorner = settings.yllcorner = kCorner;
    settings.cellsize = kCell;
    settings.nodata_value = kDomainNodata;
    settings.startday = settings.endday = 1;
    settings.startmonth = settings.endmonth = 1;
    settings.startyear = settings.endyear = 2000;
    settings.starthour = 1;
    settings.endhour = 3;
  }

  static double CellX(int c) { return kCorner + (c - 1) * kCell; }
  static double CellY(int r) { return kCorner + (kRows - r) * kCell; }
  static int Col(double x) { return static_cast<int>((x - kCorner) / kCell) + 1; }
  static int Row(double y) { return kRows - static_cast<int>((y - kCorner) / kCell); }

  void Dem(const std::function<double(double, double)>& z) {
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) table[2].data[r][c] = z(CellX(c), CellY(r));
  }
  // A station file with one record per hour from 1:00; `values[h][i]` is
  // station i's value at hour h + 1.
  void StationFile(const std::string& file, const std::vector<station>& stations,
                   const std::vector<std::vector<double>>& values) {
    std::ostringstream out;
    out.precision(17);
    out << "stations\n";
    for (int line = 0; line < 3; ++line) {
      out << "YY MM DD HH";
      for (const station& s : stations) out << " " << (line == 0 ? s.z : line == 1 ? s.x : s.y);
      out << "\n";
    }
    out << "YY MM DD HH names\n";
    for (size_t h = 0; h < values.size(); ++h) {
      out << "2000 1 1 " << h + 1;
      for (double v : values[h]) out << " " << v;
      out << "\n";
    }
    WriteFile(dir / file, out.str());
  }
  // Station values of a field, for `hours` hours.
  static std::vector<std::vector<double>> Values(const std::vector<station>& stations,
                                                 const std::function<double(double, double)>& f,
                                                 int hours = 3) {
    std::vector<double> record;
    for (const station& s : stations) record.push_back(f(s.x, s.y));
    return std::vector<std::vector<double>>(static_cast<size_t>(hours), record);
  }
  // The section of `variable`: `lines` are the station file line(s) and the
  // method line, file names relative to the test directory.
  std::string Section(const std::string& variable, int method, const std::string& lines,
                      const std::string& fraction = "1", const std::string& nodata = "9999") {
    std::string rest = "r.asc\n0\n1.0\nstat.txt 0\n" + nodata + "\n2\n" + fraction +
                       "\n100000\n0\n1\n-1e9\n-1e9\n1e9\n1e9\n0\n";
    return MeteoDomain::Section(variable, method, lines, rest);
  }
  std::string Path(const std::string& file) { return dir / file; }
  void WriteControlFile(const std::string& sections) { WriteFile(dir / "meteo.ctl", sections); }

  std::unique_ptr<meteointerpol> Build(const std::string& variable) {
    int error = -1;
    auto m = std::make_unique<meteointerpol>(error, &ms, variable, settings, &table, table.FirstFreeEntry());
    EXPECT_EQ(error, 0);
    return m;
  }
  int BuildCode(const std::string& variable) {
    int error = -1;
    return test::ThrownCode(
        [&] { meteointerpol m(error, &ms, variable, settings, &table, table.FirstFreeEntry()); });
  }
  static double At(const meteointerpol& m, double x, double y) { return m.ResultGrid()[Row(y)][Col(x)]; }
  // Distance weighting over a station file as the sections set it (w = 2).
  static double Idw(const meteointerpol& m, double x, double y) {
    return InverseDistance(m.File(0).Arrays(), x, y, kSquareWeightCode, 2.0, 1e10, kNodata);
  }

  grid_table table{&ms};
  std::vector<owned_matrix> owned;
  zone_record zones[2];
  int zone_map[2] = {0, 1};
  std::vector<row_range> ranges;
  model_settings settings;

 private:
  void grid(const char* name, int index, const std::function<double(double, double)>& value) {
    test::Rows rows(kRows, std::vector<double>(kCols));
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) rows[r - 1][c - 1] = value(CellX(c), CellY(r));
    owned.push_back(test::MatrixOf(rows));
    table[index].name = name;
    table[index].file_name = std::string(name) + ".asc";
    table[index].data = owned.back().get();
  }
};

TEST_F(MeshDomain, BilinearAndSplinesReproduceALinearField) {
  const std::vector<station> mesh = Mesh();
  StationFile("mesh.txt", mesh, Values(mesh, Linear));
  StationFile("square.txt", mesh, Values(mesh, [](double x, double) { return (x / 1000) * (x / 1000); }));
  WriteControlFile(Section("bilinear", 5, Path("mesh.txt") + "\nnone\n") +
                   Section("spline", 7, Path("mesh.txt") + "\nnone\n") +
                   Section("square", 7, Path("square.txt") + "\nnone\n"));
  auto bilinear = Build("bilinear");
  auto spline = Build("spline");
  auto square = Build("square");
  EXPECT_EQ(bilinear->Spacing().horizontal, 1000.0);
  EXPECT_EQ(bilinear->Spacing().vertical, 1000.0);
  EXPECT_NE(console.str().find("avg. horizontal distance: 1000 m\navg. vertical   distance: 1000 m\n"),
            std::string::npos);
  EXPECT_EQ(spline->SplineMesh().rows, 4);
  EXPECT_EQ(spline->SplineMesh().cols, 3);
  for (auto* m : {bilinear.get(), spline.get(), square.get()}) MeteoDomain::Step(*m);

  EXPECT_NEAR(At(*bilinear, 1250, 1250), 11.25, 1e-12);
  EXPECT_NEAR(At(*spline, 1250, 1250), 11.25, 1e-9);
  EXPECT_NEAR(At(*square, 1250, 1250), 1.5785, 1e-9);
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      const double x = CellX(c), y = CellY(r);
      const bool in_squares = x >= 50 && x < 2050 && y >= 50 && y < 3050;
      const bool in_mesh = x >= 50 && x <= 2050 && y >= 50 && y <= 3050;
      EXPECT_NEAR(bilinear->ResultGrid()[r][c], in_squares ? Linear(x, y) : Idw(*bilinear, x, y), 1e-9)
          << x << ", " << y;
      EXPECT_NEAR(spline->ResultGrid()[r][c], in_mesh ? Linear(x, y) : Idw(*spline, x, y), 1e-9)
          << x << ", " << y;
    }
  }
  // The point value: the corners of the point's cell at the point itself.
  std::vector<double> scratch(13);
  EXPECT_NEAR(bilinear->InterpolateAtPoint(scratch.data(), 1234, 2345, 0), Linear(1234, 2345), 1e-9);
  for (auto* m : {bilinear.get(), spline.get(), square.get()}) m->CleanUp();
}

TEST_F(MeshDomain, SplinesSeeMissingValuesWhateverTheNodataValue) {
  // With N = 999 a missing value is -1000, far above the splines' own marker.
  const std::vector<station> mesh = Mesh();
  std::vector<std::vector<double>> values = Values(mesh, Linear, 1);
  values[0][7] = -5000;  // (1050, 1050)
  StationFile("mesh.txt", mesh, values);
  WriteControlFile(Section("spline", 7, Path("mesh.txt") + "\nnone\n", "1", "999"));
  auto spline = Build("spline");
  MeteoDomain::Step(*spline);
  // Column 1050 has no value between 50 and 2050 m, so the lattice rows there
  // have single points on both sides: the cells take distance weighting.
  const double idw =
      InverseDistance(spline->File(0).Arrays(), 1250, 1250, kSquareWeightCode, 2.0, 1e10, 999.0);
  EXPECT_NEAR(At(*spline, 1250, 1250), idw, 1e-9);
  EXPECT_NEAR(At(*spline, 1250, 2550), Linear(1250, 2550), 1e-9);
  spline->CleanUp();
}

TEST_F(MeshDomain, TurnedMeshesWorkInTheirOwnFrame) {
  // A mesh turned by 30 degrees: columns along u, rows along v, 1000 m apart.
  const double u[2] = {std::sqrt(3.0) / 2, 0.5};
  const double v[2] = {-0.5, std::sqrt(3.0) / 2};
  const double origin[2] = {1500, 300};
  std::vector<station> mesh;
  for (int j = 3; j >= 0; --j)
    for (int i = 0; i <= 2; ++i)
      mesh.push_back(
          {origin[0] + 1000 * (i * u[0] + j * v[0]), origin[1] + 1000 * (i * u[1] + j * v[1]), 500});
  StationFile("turned.txt", mesh, Values(mesh, Linear));
  WriteControlFile(Section("bilinear", 5, Path("turned.txt") + "\nnone\n") +
                   Section("spline", 7, Path("turned.txt") + "\nnone\n"));
  auto bilinear = Build("bilinear");
  auto spline = Build("spline");
  EXPECT_NEAR(bilinear->Section().anisotropy_slope, 30 * kRadiansPerDegree, 1e-12);
  EXPECT_EQ(bilinear->Section().anisotropy_ratio, 0.995);
  MeteoDomain::Step(*bilinear);
  MeteoDomain::Step(*spline);
  int inside = 0;
  for (int r = 1; r <= kRows; ++r) {
    for (int c = 1; c <= kCols; ++c) {
      const double dx = CellX(c) - origin[0], dy = CellY(r) - origin[1];
      const double along = dx * u[0] + dy * u[1], across = dx * v[0] + dy * v[1];
      if (!(along > 1 && along < 1999 && across > 1 && across < 2999)) continue;
      ++inside;
      const double expected = Linear(CellX(c), CellY(r));
      EXPECT_NEAR(bilinear->ResultGrid()[r][c], expected, 1e-9) << CellX(c) << ", " << CellY(r);
      // A spline cell takes the value of its lattice point, up to one cell
      // west and half a cell north or south of it in the mesh's frame.
      EXPECT_NEAR(spline->ResultGrid()[r][c], expected, std::hypot(0.002, 0.001) * std::hypot(100, 50))
          << CellX(c) << ", " << CellY(r);
    }
  }
  EXPECT_GT(inside, 200);
  bilinear->CleanUp();
  spline->CleanUp();
}

TEST_F(MeshDomain, GradientMethodsAddTheSecondFileTimesTheElevation) {
  Dem([](double x, double y) { return 400 + 0.1 * x + 0.05 * y; });
  auto second = [](double x, double y) { return -0.006 + 1e-6 * x - 2e-7 * y; };
  auto expected = [&](double x, double y) {
    return Linear(x, y) + second(x, y) * (400 + 0.1 * x + 0.05 * y);
  };
  const std::vector<station> mesh = Mesh();
  StationFile("first.txt", mesh, Values(mesh, Linear));
  // Hour 2: the second file has no value at all.
  std::vector<std::vector<double>> second_values = Values(mesh, second);
  second_values[1].assign(mesh.size(), -10000);
  StationFile("second.txt", mesh, second_values);
  const std::string files = Path("first.txt") + "\n" + Path("second.txt") + "\nnone\n";
  WriteControlFile(Section("bilinear", 6, files) + Section("spline", 8, files));
  auto bilinear = Build("bilinear");
  auto spline = Build("spline");
  MeteoDomain::Step(*bilinear);
  MeteoDomain::Step(*spline);
  for (double x : {50.0, 650.0, 1250.0, 1950.0}) {
    for (double y : {50.0, 1250.0, 2950.0}) {
      EXPECT_NEAR(At(*bilinear, x, y), expected(x, y), 1e-9) << x << ", " << y;
      EXPECT_NEAR(At(*spline, x, y), expected(x, y), 1e-9) << x << ", " << y;
    }
  }
  // The point value takes the point's altitude.
  std::vector<double> scratch(13);
  EXPECT_NEAR(bilinear->InterpolateAtPoint(scratch.data(), 1250, 1250, 800),
              Linear(1250, 1250) + second(1250, 1250) * 800, 1e-9);
  // Without the second part the bilinear cells have no value; the splines
  // fall back to distance weighting of the first file.
  for (auto* m : {bilinear.get(), spline.get()}) {
    m->ReadNextRecord();
    MeteoDomain::Step(*m);
  }
  EXPECT_EQ(At(*bilinear, 1250, 1250), -kNodata - 1);
  EXPECT_NEAR(At(*spline, 1250, 1250), Idw(*spline, 1250, 1250), 1e-9);
  bilinear->CleanUp();
  spline->CleanUp();

  // The third station of the second file lies elsewhere.
  std::vector<station> moved = mesh;
  moved[2].y += 10;
  StationFile("second.txt", moved, Values(moved, second));
  console.str("");
  EXPECT_EQ(BuildCode("bilinear"), kInputFilesDifferCode);
  EXPECT_NE(console.str().find("Altitude and/or coordinates of station 3 are different in"),
            std::string::npos)
      << console.str();
}

TEST_F(MeshDomain, CornersWithoutValueOrOutOfReachUseDistanceWeighting) {
  // Hour 2: the station at (1050, 1050) has no value.
  const std::vector<station> mesh = Mesh();
  std::vector<std::vector<double>> values = Values(mesh, Linear);
  values[1][7] = -10000;
  StationFile("mesh.txt", mesh, values);
  // Columns at 50, 750, 1750 and 3050: the mean spacing is 1000 m, so the
  // column 1300 m east of 1750 lies outside the box of 750 to 1250 m.
  const std::vector<station> uneven = Mesh({50, 750, 1750, 3050});
  StationFile("uneven.txt", uneven, Values(uneven, Linear));
  WriteControlFile(Section("gap", 5, Path("mesh.txt") + "\nnone\n") +
                   Section("uneven", 5, Path("uneven.txt") + "\nnone\n"));
  auto gap = Build("gap");
  auto uneven_mesh = Build("uneven");
  MeteoDomain::Step(*uneven_mesh);
  EXPECT_NEAR(At(*uneven_mesh, 1250, 1250), Linear(1250, 1250), 1e-9);
  EXPECT_NEAR(At(*uneven_mesh, 2050, 1250), Idw(*uneven_mesh, 2050, 1250), 1e-9);
  EXPECT_GT(std::fabs(At(*uneven_mesh, 2050, 1250) - Linear(2050, 1250)), 0.01);

  for (int hour = 1; hour <= 3; ++hour) {
    MeteoDomain::Step(*gap);
    const double expected = hour == 2 ? Idw(*gap, 1250, 1250) : Linear(1250, 1250);
    EXPECT_NEAR(At(*gap, 1250, 1250), expected, 1e-9) << hour;
    if (hour == 2) {
      EXPECT_GT(std::fabs(expected - Linear(1250, 1250)), 0.01);
    }
    EXPECT_NEAR(At(*gap, 550, 2550), Linear(550, 2550), 1e-9) << hour;  // its corners all have values
    gap->ReadNextRecord();
  }
  gap->CleanUp();
  uneven_mesh->CleanUp();
}

TEST_F(MeshDomain, FittedRegressionsAndTheirAccess) {
  Dem([](double x, double) { return x < 1200 ? 1000.0 : 2000.0; });
  const std::vector<station> low = {{300, 400, 300}, {2100, 600, 500}, {900, 3000, 700}};
  StationFile("low.txt", low, {{12, 11, 10}, {-10000, -10000, -10000}, {12, 11, 10}});
  const std::string lines = Path("low.txt") + "\n800 1500 100 0 50\n";
  WriteControlFile(Section("fitted", 10, lines) + Section("mixed", 11, lines, "0.25") +
                   Section("plain", 1, Path("low.txt") + "\nnone\n"));
  auto fitted = Build("fitted");
  auto mixed = Build("mixed");
  auto plain = Build("plain");
  for (auto* m : {fitted.get(), mixed.get()}) {
    m->ComputeStationRegression(0);
    MeteoDomain::Step(*m);
  }
  EXPECT_NEAR(At(*fitted, 550, 1250), 8.5, 1e-12);
  EXPECT_NEAR(At(*fitted, 1850, 1250), 3.5, 1e-12);
  for (double x : {550.0, 1850.0})
    EXPECT_NEAR(At(*mixed, x, 1250), 0.75 * At(*fitted, x, 1250) + 0.25 * Idw(*mixed, x, 1250), 1e-12);

  // The precipitation correction's view.
  double h1 = 0, h2 = 0;
  std::array<double, 4> a{}, b{};
  fitted->GetRegression(1, h1, h2, a, b);
  EXPECT_EQ(h1, 0.0);
  EXPECT_EQ(h2, 800.0);
  EXPECT_NEAR(a[1], 13.5, 1e-12);
  EXPECT_EQ(b[1], 0.0);
  plain->GetRegression(1, h1, h2, a, b);
  EXPECT_EQ(h1, -kNodata - 1);
  EXPECT_EQ(a[2], -kNodata - 1);
  EXPECT_EQ(b[3], -kNodata - 1);

  // Points without location take the regression alone.
  std::vector<double> scratch(4);
  EXPECT_NEAR(fitted->InterpolateAtPoint(scratch.data(), kDomainNodata, kDomainNodata, 1000), 8.5, 1e-12);
  EXPECT_NEAR(mixed->InterpolateAtPoint(scratch.data(), kDomainNodata, kDomainNodata, 2000), 3.5, 1e-12);

  // A rewritten regression holds until the next fit; h1 stays.
  fitted->ReadNextRecord();
  fitted->ComputeStationRegression(0);  // hour 2: no valid value, no regression
  fitted->SetRegression(1, {0, 20, 20, 20}, {0, 0, 0, -0.01}, 1500);
  MeteoDomain::Step(*fitted);
  EXPECT_EQ(At(*fitted, 550, 1250), 20.0);
  EXPECT_NEAR(At(*fitted, 1850, 1250), 0.0, 1e-12);
  fitted->GetRegression(1, h1, h2, a, b);
  EXPECT_EQ(h1, -kNodata - 1);  // the failed fit's
  EXPECT_EQ(h2, 1500.0);

  // Without a regression the cells keep their values.
  fitted->ComputeStationRegression(0);
  EXPECT_TRUE(IsRegressionMissing(fitted->Regression(), kNodata));
  MeteoDomain::Step(*fitted);
  EXPECT_EQ(At(*fitted, 550, 1250), 20.0);
  for (auto* m : {fitted.get(), mixed.get(), plain.get()}) m->CleanUp();
}

// Records of hours 1 to 3: no trend, a trend, a missing regression.
struct regression_row {
  int hour;
  std::array<double, kRegressionRecordValues> values;
};
const regression_row kRegressionRows[] = {
    {1, {10, -0.005, 400, 9, -0.0025, 1500, 14, -0.006, -10000, 0, 0}},
    {2, {10, -0.005, 400, 9, -0.0025, 1500, 14, -0.006, 8, 0.001, 0.0005}},
    {3, {-10000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
};

void WriteRegressionFiles(const test::TempDir& dir, int second_hour = 2) {
  std::ostringstream text;
  text.precision(17);
  text << "jr mo dy hr a1 b1 h1 a2 b2 h2 a3 b3 e f g\n";
  std::string binary;
  for (regression_row row : kRegressionRows) {
    if (row.hour == 2) row.hour = second_hour;
    text << "2000 1 1 " << row.hour;
    unsigned char record[kRegressionRecordBytes];
    const int date[4] = {2000, 1, 1, row.hour};
    for (int k = 0; k < 4; ++k) StoreLittleEndian<std::int32_t>(date[k], record + 4 * k);
    for (size_t k = 0; k < row.values.size(); ++k) {
      text << " " << row.values[k];
      StoreLittleEndian<double>(row.values[k], record + 16 + 8 * k);
    }
    text << "\n";
    binary.append(reinterpret_cast<const char*>(record), sizeof record);
  }
  WriteFile(dir / "regression.txt", text.str());
  WriteFile(dir / "regression.bin", binary);
}

TEST_F(MeshDomain, RegressionFilesInBothFormats) {
  Dem([](double x, double y) { return 100 + 0.5 * x + 0.2 * y; });
  // A row whose active cells are no single run, and a cell without location.
  table[1].data[Row(650)][Col(550)] = kDomainNodata;
  table[5].data[Row(1250)][Col(1750)] = kDomainNodata;
  WriteRegressionFiles(dir);
  WriteControlFile(Section("text", 2, "unused\n" + Path("regression.txt") + "\n") +
                   Section("binary", 2, "unused\n" + Path("regression.bin") + "\n"));
  auto text = Build("text");
  auto binary = Build("binary");
  for (int hour = 1; hour <= 3; ++hour) {
    for (auto* m : {text.get(), binary.get()}) {
      EXPECT_EQ(m->CurrentRecordDate().hour, hour);
      MeteoDomain::Step(*m);
    }
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c)
        ASSERT_EQ(text->ResultGrid()[r][c], binary->ResultGrid()[r][c]) << hour;
    const double z = 100 + 0.5 * 1250 + 0.2 * 650;  // 855 m: the middle segment
    const double expected =
        hour == 1 ? 9 - 0.0025 * z : 8 + 0.001 * 1250 + 0.0005 * 650 - 10 + 9 - 0.0025 * z;
    EXPECT_NEAR(At(*text, 1250, 650), expected, 1e-12) << hour;            // hour 3 keeps hour 2
    EXPECT_NEAR(At(*text, 1750, 1250), 9 - 0.0025 * 1225, 1e-12) << hour;  // no trend there
    EXPECT_EQ(At(*text, 550, 650), kDomainNodata);
    for (auto* m : {text.get(), binary.get()}) m->ReadNextRecord();
  }
  EXPECT_TRUE(text->IsEndOfData());
  text->CleanUp();
  binary->CleanUp();
}

TEST_F(MeshDomain, RegressionAndStationDatesMustAgree) {
  WriteRegressionFiles(dir, 4);
  const std::vector<station> low = {{300, 400, 300}, {2100, 600, 500}, {900, 3000, 700}};
  StationFile("low.txt", low, {{12, 11, 10}, {12, 11, 10}, {12, 11, 10}});
  WriteControlFile(Section("mixed", 3, Path("low.txt") + "\n" + Path("regression.txt") + "\n"));
  auto mixed = Build("mixed");
  MeteoDomain::Step(*mixed);
  console.str("");
  EXPECT_EQ(test::ThrownCode([&] { mixed->ReadNextRecord(); }), kStepDateCode);
  EXPECT_NE(console.str().find("for IDW*Regress \n\nDate from station/regress file " + Path("low.txt") +
                               ":\n1.1.2000 2 h\n\nbut date from regres file " + Path("regression.txt") +
                               ":\n1.1.2000 4 h\n"),
            std::string::npos)
      << console.str();
  mixed->CleanUp();
}

}  // namespace
}  // namespace velmo
