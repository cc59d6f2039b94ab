// netCDF grid writer and reader.
#include "framework/netcdfgrid.h"

#include <netcdf.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

#include "framework/diagnostics.h"
#include "framework/netcdf_classic.h"

namespace velmo {
namespace {

// Every variable but the record numbers is deflated at this level, without
// the shuffle filter.
constexpr int kDeflateLevel = 3;
constexpr int kNoShuffle = 0;
constexpr int kDeflate = 1;
// Cell size given for a grid of a single row without any other spacing.
constexpr double kSingleRowCellsize = 10.0;
// Characters of a record path read as the record number.
constexpr size_t kRecordDigits = 10;

constexpr const char* kRecordDimension = "t";
constexpr const char* kMissingValueName = "missing_value";
constexpr const char* kCellsizeName = "default_cellsize";

// A failed netCDF call.
struct netcdf_failure {
  int status;
};

void Check(int status) {
  if (status != NC_NOERR) throw netcdf_failure{status};
}

// An open netCDF file, closed (unchecked) when it goes; a regular end closes
// it with Close() and checks the status.
class NcFileHandle {
 public:
  NcFileHandle() = default;
  ~NcFileHandle() {
    if (id >= 0) nc_close(id);
  }
  NcFileHandle(const NcFileHandle&) = delete;
  NcFileHandle& operator=(const NcFileHandle&) = delete;
  int Close() {
    const int status = nc_close(id);
    id = -1;
    return status;
  }
  int id = -1;
};

void PutText(int file, int variable, const char* name, const std::string& text) {
  Check(nc_put_att_text(file, variable, name, text.size(), text.c_str()));
}

int DefineVariable(int file, const char* name, nc_type type, std::initializer_list<int> dimensions,
                   bool deflated) {
  int variable = -1;
  const std::vector<int> ids(dimensions);
  Check(nc_def_var(file, name, type, static_cast<int>(ids.size()), ids.data(), &variable));
  if (deflated) Check(nc_def_var_deflate(file, variable, kNoShuffle, kDeflate, kDeflateLevel));
  return variable;
}

// The file part of a path: everything after the last "/" or "\".
std::string_view FilePart(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The name of the grid a file holds: its file part without ".nc".
std::string GridNameOf(const std::string& file_name) {
  std::string_view part = FilePart(file_name);
  if (part.ends_with(".nc")) part.remove_suffix(3);
  return std::string(part);
}

}  // namespace

std::string VarNameFromPath(const std::string& path) {
  std::string_view part = FilePart(path);
  if (const size_t dot = part.find('.'); dot != std::string_view::npos) part = part.substr(0, dot);
  std::string name;
  for (char c : part)
    if (c != '_' && c != '-') name.push_back(c);
  return name;
}

std::string VarNameFromPathNoDots(const std::string& path) {
  std::string name;
  for (char c : FilePart(path))
    if (c != '.') name.push_back(c);
  return name;
}

std::string AddNcExtension(const std::string& name) { return name + ".nc"; }

// ---------------------------------------------------------------- writer

void NetcdfGridWriter::SetGeoreference(double xllcorner_in, double yllcorner_in, double cellsize_in) {
  xllcorner = xllcorner_in;
  yllcorner = yllcorner_in;
  cellsize = cellsize_in;
}

void NetcdfGridWriter::SetLatitudes(std::vector<double> values) {
  has_latitudes = true;
  latitudes = std::move(values);
}

void NetcdfGridWriter::SetLongitudes(std::vector<double> values) {
  has_longitudes = true;
  longitudes = std::move(values);
}

void NetcdfGridWriter::RegisterFileVariable(const std::string& file_name, const std::string& variable_name) {
  pair_files.push_back(file_name);
  pair_variables.push_back(variable_name);
}

bool NetcdfGridWriter::HasCreated(const std::string& file_name) const {
  return std::find(created_files.begin(), created_files.end(), file_name) != created_files.end();
}

void NetcdfGridWriter::FreeNameLists() {
  created_files.clear();
  pair_files.clear();
  pair_variables.clear();
}

namespace {

// Creates a grid file with its dimensions, coordinates and the grid
// variable, ready for its first record.
void CreateGridFile(const NetcdfGridWriter& writer, int file, bool double_precision,
                    const std::string& file_name, const std::string& variable_name, int nrows, int ncols,
                    double missing_value, double record_cellsize) {
  int x_dim = -1, y_dim = -1, t_dim = -1;
  Check(nc_def_dim(file, "x", static_cast<size_t>(ncols), &x_dim));
  Check(nc_def_dim(file, "y", static_cast<size_t>(nrows), &y_dim));
  Check(nc_def_dim(file, kRecordDimension, NC_UNLIMITED, &t_dim));

  const int x_var = DefineVariable(file, "x", NC_DOUBLE, {x_dim}, true);
  PutText(file, x_var, "units", "m East of reference point");
  PutText(file, x_var, "long_name", "west edge of the cell column");
  const int y_var = DefineVariable(file, "y", NC_DOUBLE, {y_dim}, true);
  PutText(file, y_var, "units", "m North of reference point");
  PutText(file, y_var, "long_name", "south edge of the cell row");
  const int t_var = DefineVariable(file, kRecordDimension, NC_DOUBLE, {t_dim}, false);
  PutText(file, t_var, "long_name", "record number");

  const size_t cells = static_cast<size_t>(ncols) * static_cast<size_t>(nrows);
  int lat_var = -1, lon_var = -1;
  if (writer.has_latitudes && writer.latitudes.size() == cells) {
    lat_var = DefineVariable(file, "lat", NC_DOUBLE, {x_dim, y_dim}, true);
    PutText(file, lat_var, "units", "degrees north");
  }
  if (writer.has_longitudes && writer.longitudes.size() == cells) {
    lon_var = DefineVariable(file, "lon", NC_DOUBLE, {x_dim, y_dim}, true);
    PutText(file, lon_var, "units", "degrees east");
  }

  const int grid_var = DefineVariable(file, variable_name.c_str(), double_precision ? NC_DOUBLE : NC_FLOAT,
                                      {t_dim, x_dim, y_dim}, true);
  Check(nc_put_att_double(file, grid_var, kMissingValueName, NC_DOUBLE, 1, &missing_value));
  Check(nc_put_att_double(file, grid_var, kCellsizeName, NC_DOUBLE, 1, &record_cellsize));
  // The fill value in the variable's own type lets other tools see the
  // missing cells; it changes no stored value.
  if (double_precision) {
    Check(nc_def_var_fill(file, grid_var, NC_FILL, &missing_value));
  } else {
    const float fill = static_cast<float>(missing_value);
    Check(nc_def_var_fill(file, grid_var, NC_FILL, &fill));
  }
  PutText(file, grid_var, "long_name", GridNameOf(file_name));
  Check(nc_enddef(file));

  std::vector<double> x(static_cast<size_t>(ncols));
  for (int i = 0; i < ncols; ++i) x[static_cast<size_t>(i)] = writer.xllcorner + i * writer.cellsize;
  Check(nc_put_var_double(file, x_var, x.data()));
  std::vector<double> y(static_cast<size_t>(nrows));
  for (int j = 0; j < nrows; ++j)
    y[static_cast<size_t>(j)] = writer.yllcorner + (nrows - 1 - j) * writer.cellsize;
  Check(nc_put_var_double(file, y_var, y.data()));
  if (lat_var >= 0) Check(nc_put_var_double(file, lat_var, writer.latitudes.data()));
  if (lon_var >= 0) Check(nc_put_var_double(file, lon_var, writer.longitudes.data()));
}

}  // namespace

void NetcdfGridWriter::WriteRecord(bool double_precision, const double* double_values,
                                   const float* float_values, const std::string& file_name,
                                   const std::string& variable_name, int nrows, int ncols,
                                   double missing_value, double record_cellsize) {
  const bool create = !HasCreated(file_name);
  bool created_here = false;
  NcFileHandle file;
  try {
    size_t record = 0;
    if (create) {
      Check(nc_create(file_name.c_str(), NC_NETCDF4 | NC_CLOBBER, &file.id));
      created_here = true;
      CreateGridFile(*this, file.id, double_precision, file_name, variable_name, nrows, ncols, missing_value,
                     record_cellsize);
    } else {
      Check(nc_open(file_name.c_str(), NC_WRITE, &file.id));
      int t_dim = -1;
      Check(nc_inq_dimid(file.id, kRecordDimension, &t_dim));
      Check(nc_inq_dimlen(file.id, t_dim, &record));
    }
    int grid_var = -1, t_var = -1;
    Check(nc_inq_varid(file.id, variable_name.c_str(), &grid_var));
    Check(nc_inq_varid(file.id, kRecordDimension, &t_var));
    const std::array<size_t, 3> start = {record, 0, 0};
    const std::array<size_t, 3> count = {1, static_cast<size_t>(ncols), static_cast<size_t>(nrows)};
    Check(double_precision ? nc_put_vara_double(file.id, grid_var, start.data(), count.data(), double_values)
                           : nc_put_vara_float(file.id, grid_var, start.data(), count.data(), float_values));
    const double record_number = static_cast<double>(record);
    const size_t one = 1;
    Check(nc_put_vara_double(file.id, t_var, &record, &one, &record_number));
    Check(file.Close());
  } catch (const netcdf_failure& failure) {
    if (file.id >= 0) file.Close();
    // A half-defined new file would be taken for a grid file later on; an
    // appended file keeps its earlier records.
    if (created_here) std::remove(file_name.c_str());
    RaiseFatal(
        messages_,
        "FATAL: error creating " + file_name + " for writing in netCDF: " + nc_strerror(failure.status),
        kNetcdfErrorCode);
  }
  if (create) {
    created_files.push_back(file_name);
    RegisterFileVariable(file_name, variable_name);
  }
}

// ---------------------------------------------------------------- reader

namespace {

enum class grid_axis { none, x, y };

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char p, char q) {
           return std::tolower(static_cast<unsigned char>(p)) == std::tolower(static_cast<unsigned char>(q));
         });
}

// Which grid axis a dimension stands for: x, lon, longitude or y, lat,
// latitude by name, else by the letter it contains.
grid_axis AxisOfDimension(std::string_view name) {
  for (std::string_view x : {"x", "lon", "longitude"})
    if (EqualsIgnoringCase(name, x)) return grid_axis::x;
  for (std::string_view y : {"y", "lat", "latitude"})
    if (EqualsIgnoringCase(name, y)) return grid_axis::y;
  if (name.find('x') != std::string_view::npos) return grid_axis::x;
  if (name.find('y') != std::string_view::npos) return grid_axis::y;
  return grid_axis::none;
}

std::string DimensionName(int file, int dimension) {
  std::array<char, NC_MAX_NAME + 1> name{};
  Check(nc_inq_dimname(file, dimension, name.data()));
  return name.data();
}

size_t DimensionLength(int file, int dimension) {
  size_t length = 0;
  Check(nc_inq_dimlen(file, dimension, &length));
  return length;
}

// The shape of a grid variable: its grid dimensions and how they lie.
struct grid_shape {
  bool valid = false;
  bool has_record_dimension = false;
  bool x_fastest = false;  // (.., y, x)
  int x_dimension = -1;
  int y_dimension = -1;
  int record_dimension = -1;
  std::vector<std::string> dimension_names;
};

grid_shape ShapeOf(int file, int variable) {
  grid_shape shape;
  int rank = 0;
  Check(nc_inq_varndims(file, variable, &rank));
  std::vector<int> dimensions(static_cast<size_t>(rank));
  if (rank > 0) Check(nc_inq_vardimid(file, variable, dimensions.data()));
  for (int d : dimensions) shape.dimension_names.push_back(DimensionName(file, d));
  if (rank != 2 && rank != 3) return shape;
  shape.has_record_dimension = rank == 3;
  if (shape.has_record_dimension) shape.record_dimension = dimensions[0];
  const int first = dimensions[static_cast<size_t>(rank - 2)];
  const int second = dimensions[static_cast<size_t>(rank - 1)];
  const grid_axis a = AxisOfDimension(shape.dimension_names[static_cast<size_t>(rank - 2)]);
  const grid_axis b = AxisOfDimension(shape.dimension_names[static_cast<size_t>(rank - 1)]);
  if (a == grid_axis::x && b == grid_axis::y) {
    shape.x_dimension = first;
    shape.y_dimension = second;
  } else if (a == grid_axis::y && b == grid_axis::x) {
    shape.x_dimension = second;
    shape.y_dimension = first;
    shape.x_fastest = true;
  } else {
    return shape;
  }
  shape.valid = true;
  return shape;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Id of the variable `name`, or -1.
int FindVariable(int file, const std::string& name) {
  int variable = -1;
  if (name.empty() || nc_inq_varid(file, name.c_str(), &variable) != NC_NOERR) return -1;
  return variable;
}

// The first variable in name order that can be a grid: one of grid shape
// that is no coordinate (x, y, t, lat, lon or a dimension's own variable).
int FirstGridVariable(int file) {
  int count = 0;
  Check(nc_inq_nvars(file, &count));
  std::vector<std::pair<std::string, int>> variables;
  for (int v = 0; v < count; ++v) {
    std::array<char, NC_MAX_NAME + 1> name{};
    Check(nc_inq_varname(file, v, name.data()));
    variables.emplace_back(name.data(), v);
  }
  std::sort(variables.begin(), variables.end());
  for (const auto& [name, variable] : variables) {
    if (name == "x" || name == "y" || name == "t" || name == "lat" || name == "lon") continue;
    int dimension = -1;
    if (nc_inq_dimid(file, name.c_str(), &dimension) == NC_NOERR) continue;
    if (ShapeOf(file, variable).valid) return variable;
  }
  return -1;
}

// The first value of a numeric attribute; false when there is none.
bool ReadNumericAttribute(int file, int variable, const char* name, double& value) {
  size_t length = 0;
  if (nc_inq_attlen(file, variable, name, &length) != NC_NOERR || length == 0) return false;
  std::vector<double> values(length);
  Check(nc_get_att_double(file, variable, name, values.data()));
  value = values[0];
  return true;
}

bool GlobalTextContains(int file, const char* name, std::string_view part) {
  size_t length = 0;
  nc_type type = NC_NAT;
  if (nc_inq_att(file, NC_GLOBAL, name, &type, &length) != NC_NOERR || type != NC_CHAR) return false;
  std::string text(length, '\0');
  Check(nc_get_att_text(file, NC_GLOBAL, name, text.data()));
  return text.find(part) != std::string::npos;
}

// The values of the one-dimensional variable of a dimension, or empty.
std::vector<double> CoordinateValues(int file, int dimension) {
  const int variable = FindVariable(file, DimensionName(file, dimension));
  if (variable < 0) return {};
  int rank = 0;
  Check(nc_inq_varndims(file, variable, &rank));
  int own = -1;
  if (rank != 1 || (nc_inq_vardimid(file, variable, &own), own != dimension)) return {};
  std::vector<double> values(DimensionLength(file, dimension));
  if (!values.empty()) Check(nc_get_var_double(file, variable, values.data()));
  return values;
}

// Attributes that turn the stored numbers into values.
struct unpacking {
  double scale = 1.0;
  double offset = 0.0;
  bool has_missing = false;
  double missing = 0.0;  // as stored, in the variable's type
};

// The record number of a record path's tail: blanks, a sign and digits of
// at most its first ten characters; 0 without digits, -1 beyond an int.
int RecordNumber(std::string_view tail) {
  tail = tail.substr(0, std::min(tail.size(), kRecordDigits));
  size_t i = 0;
  while (i < tail.size() && std::isspace(static_cast<unsigned char>(tail[i]))) ++i;
  bool negative = false;
  if (i < tail.size() && (tail[i] == '+' || tail[i] == '-')) negative = tail[i++] == '-';
  long long value = 0;
  for (; i < tail.size() && std::isdigit(static_cast<unsigned char>(tail[i])); ++i)
    value = value * 10 + (tail[i] - '0');
  if (negative) value = -value;
  if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(value);
}

}  // namespace

NetcdfGridReader::~NetcdfGridReader() { CloseAll(); }

void NetcdfGridReader::CloseAll() {
  for (const auto& [name, id] : open_files) nc_close(id);
  open_files.clear();
}

int NetcdfGridReader::OpenCached(const std::string& file_name) {
  if (const auto found = open_files.find(file_name); found != open_files.end()) return found->second;
  if (open_files.size() >= static_cast<size_t>(kMaxOpenNetcdfFiles))
    RaiseFatal(
        messages_,
        "FATAL: more than " + std::to_string(kMaxOpenNetcdfFiles) +
            " different netCDF files can not be hold open at the same time. If you read time series of "
            "input grids from netCDF, please put all the single nc files into one large file or into "
            "some groups of files",
        kTooManyNetcdfFilesCode);
  int id = -1;
  Check(nc_open(file_name.c_str(), NC_NOWRITE, &id));
  open_files.emplace(file_name, id);
  return id;
}

void NetcdfGridReader::ReadRecord(std::vector<double>& values, std::string& record_path,
                                  netcdf_record_info& info, int record_index) {
  // "file<variable>record": the file name, the variable and the record.
  std::string variable_name;
  const size_t open_bracket = record_path.find('<');
  const size_t close_bracket = record_path.find('>');
  const bool named = open_bracket != std::string::npos && close_bracket != std::string::npos &&
                     open_bracket > 0 && close_bracket > open_bracket;
  if (named) {
    variable_name = record_path.substr(open_bracket + 1, close_bracket - open_bracket - 1);
    record_index = RecordNumber(std::string_view(record_path).substr(close_bracket + 1));
    record_path.resize(open_bracket);
  }
  const std::string& file_name = record_path;
  auto fail = [&](const std::string& text) {
    RaiseFatal(messages_,
               "FATAL: exception occured when reading from netCDF file " + file_name +
                   ". Internal message is: " + text,
               kNetcdfErrorCode);
  };

  try {
    // A classic file whose header claims more than the file holds is refused
    // before the library trusts it.
    if (!open_files.contains(file_name))
      if (const std::string fault = ClassicNetcdfFault(file_name); !fault.empty()) fail(fault);
    const int file = OpenCached(file_name);

    int variable = -1;
    if (named) {
      variable = FindVariable(file, variable_name);
    } else {
      variable = FindVariable(file, VarNameFromPath(file_name));
      variable_name = VarNameFromPathNoDots(file_name);
      if (variable < 0) variable = FindVariable(file, variable_name);
      if (variable < 0) {
        variable = FirstGridVariable(file);
        if (variable >= 0 && !fallback_reported_) {
          *messages_ << "INFO: netcdf input file names should be provided as filename<varname>timestep "
                        "(example: \"temperature.nc<tair>12\")."
                     << "[end-entry]";
          fallback_reported_ = true;
        }
      }
    }
    if (variable < 0)
      RaiseFatal(messages_,
                 "FATAL: cannot find variable \"" + variable_name + "\" in file \"" + file_name +
                     "\" for reading from netCDF.",
                 kNetcdfErrorCode);
    std::array<char, NC_MAX_NAME + 1> found_name{};
    Check(nc_inq_varname(file, variable, found_name.data()));
    variable_name = found_name.data();

    // A variable of another shape would be read into part of the buffer.
    const grid_shape shape = ShapeOf(file, variable);
    if (!shape.valid)
      fail("variable \"" + variable_name + "\" has the dimensions (" + JoinNames(shape.dimension_names) +
           "), but a grid needs (record, x, y), (record, y, x), (x, y) or (y, x), with x named x, lon or "
           "longitude and y named y, lat or latitude");
    const size_t ncols = DimensionLength(file, shape.x_dimension);
    const size_t nrows = DimensionLength(file, shape.y_dimension);
    const size_t records = shape.has_record_dimension ? DimensionLength(file, shape.record_dimension) : 1;
    if (ncols > static_cast<size_t>(std::numeric_limits<int>::max()) ||
        nrows > static_cast<size_t>(std::numeric_limits<int>::max()) ||
        records > static_cast<size_t>(std::numeric_limits<int>::max()))
      fail("variable \"" + variable_name + "\" is too large for a grid");
    info.ncols = static_cast<int>(ncols);
    info.nrows = static_cast<int>(nrows);
    info.record_count = static_cast<int>(records);
    if (record_index < 0 || static_cast<size_t>(record_index) >= records)
      fail("record " + std::to_string(record_index) + " requested, but variable \"" + variable_name +
           "\" holds " + std::to_string(records) + " record(s)");

    // Attributes, in name order; a name containing one of the keys counts.
    unpacking pack;
    info.cellsize = -1.0;
    int attribute_count = 0;
    Check(nc_inq_varnatts(file, variable, &attribute_count));
    std::vector<std::string> attributes;
    for (int a = 0; a < attribute_count; ++a) {
      std::array<char, NC_MAX_NAME + 1> name{};
      Check(nc_inq_attname(file, variable, a, name.data()));
      attributes.emplace_back(name.data());
    }
    std::sort(attributes.begin(), attributes.end());
    bool has_fill = false;
    double fill = 0.0;
    for (const std::string& name : attributes) {
      double value = 0.0;
      if (name.find("scale_factor") != std::string::npos) {
        if (ReadNumericAttribute(file, variable, name.c_str(), value)) pack.scale = value;
      } else if (name.find("add_offset") != std::string::npos) {
        if (ReadNumericAttribute(file, variable, name.c_str(), value)) pack.offset = value;
      } else if (name.find(kMissingValueName) != std::string::npos) {
        if (ReadNumericAttribute(file, variable, name.c_str(), value)) {
          pack.has_missing = true;
          pack.missing = value;
        }
      } else if (name.find(kCellsizeName) != std::string::npos) {
        if (ReadNumericAttribute(file, variable, name.c_str(), value)) info.cellsize = value;
      } else if (name == "_FillValue") {
        has_fill = ReadNumericAttribute(file, variable, name.c_str(), fill);
      }
    }
    if (!pack.has_missing && has_fill) {
      pack.has_missing = true;
      pack.missing = fill;
    }
    if (pack.has_missing) info.missing_value = pack.missing;
    nc_type type = NC_NAT;
    Check(nc_inq_vartype(file, variable, &type));
    // Stored floats are compared with the missing value as a float.
    if (type == NC_FLOAT) pack.missing = static_cast<double>(static_cast<float>(pack.missing));

    // Georeference from the coordinate variables: corners, or centres in a
    // CF file.
    const std::vector<double> x = CoordinateValues(file, shape.x_dimension);
    const std::vector<double> y = CoordinateValues(file, shape.y_dimension);
    const bool y_falls = y.size() > 1 && y[1] < y[0];
    if (info.cellsize < 0.0) {
      if (y.size() > 1) {
        info.cellsize = std::fabs(y[1] - y[0]);
      } else if (x.size() > 1) {
        info.cellsize = std::fabs(x[1] - x[0]);
      } else if (!y.empty()) {
        info.cellsize = kSingleRowCellsize;
      }
    }
    const double centre_shift =
        GlobalTextContains(file, "Conventions", "CF") && info.cellsize > 0.0 ? info.cellsize / 2.0 : 0.0;
    if (!x.empty()) info.xllcorner = x.front() - centre_shift;
    if (!y.empty()) info.yllcorner = (y_falls ? y.back() : y.front()) - centre_shift;

    // The record, in file order, then in record order.
    const size_t cells = ncols * nrows;
    values.resize(cells);
    if (cells == 0) return;
    const bool direct = !shape.x_fastest && (y_falls || nrows == 1);
    std::vector<double> scratch;
    double* raw = values.data();
    if (!direct) {
      scratch.resize(cells);
      raw = scratch.data();
    }
    std::array<size_t, 3> start = {static_cast<size_t>(record_index), 0, 0};
    std::array<size_t, 3> count = {1, shape.x_fastest ? nrows : ncols, shape.x_fastest ? ncols : nrows};
    const size_t offset = shape.has_record_dimension ? 0 : 1;
    Check(nc_get_vara_double(file, variable, start.data() + offset, count.data() + offset, raw));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto unpack = [&pack, nan](double v) {
      if (v != v || (pack.has_missing && v == pack.missing)) return nan;
      return v * pack.scale + pack.offset;
    };
    if (direct) {
      for (double& v : values) v = unpack(v);
    } else if (!shape.x_fastest) {
      // (x, y) with y rising: each column is reversed.
      for (size_t c = 0; c < ncols; ++c) {
        const double* from = raw + c * nrows;
        double* to = values.data() + c * nrows;
        for (size_t r = 0; r < nrows; ++r) to[nrows - 1 - r] = unpack(from[r]);
      }
    } else {
      // (y, x): transposed, and rows reversed when y rises.
      for (size_t j = 0; j < nrows; ++j) {
        const double* from = raw + j * ncols;
        const size_t row = y_falls ? j : nrows - 1 - j;
        for (size_t c = 0; c < ncols; ++c) values[c * nrows + row] = unpack(from[c]);
      }
    }
  } catch (const netcdf_failure& failure) {
    fail(nc_strerror(failure.status));
  }
}

}  // namespace velmo
