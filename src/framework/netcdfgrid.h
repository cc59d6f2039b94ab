// netCDF grid files: the writer and the reader that every model object owns.
//
// Layout of a grid file as the writer makes it (netCDF-4, no global
// attributes):
//   dimensions  x = ncols, y = nrows, t = unlimited
//   x(x), y(y)  west edge of each column and south edge of each row (cell
//               corners, not centres); y falls: y[0] is the northernmost row
//   t(t)        the record number, t[k] = k
//   lat(x, y), lon(x, y)  only when the domain has latitude/longitude grids
//   <var>(t, x, y)        one grid per record, double or float, with
//               missing_value, default_cellsize, _FillValue and long_name
// Every variable but t is deflated at level 3 without the shuffle filter.
// Record layout ("record order"): the cell of column c and row r (from 1,
// row 1 northernmost) lies at (c - 1) * nrows + (r - 1).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velmo {

class MessageStream;

// Code of every netCDF failure of the writer and the reader.
inline constexpr int kNetcdfErrorCode = 26;
// Code of a reader that would hold more files open than it may.
inline constexpr int kTooManyNetcdfFilesCode = 1100;
// Files one reader holds open at most.
inline constexpr int kMaxOpenNetcdfFiles = 1000;

// The variable name of a grid file: the file part of `path` (after the last
// "/" or "\"), cut at its first ".", without "_" and "-".
// "d:\results\snow_cover-1.asc" gives "snowcover1".
std::string VarNameFromPath(const std::string& path);
// The file part of `path` without any ".": "in/tair.1990.nc" gives
// "tair1990nc".
std::string VarNameFromPathNoDots(const std::string& path);
// `name` + ".nc".
std::string AddNcExtension(const std::string& name);

class NetcdfGridWriter {
 public:
  explicit NetcdfGridWriter(MessageStream* messages) : messages_(messages) {}

  void SetGeoreference(double xllcorner_in, double yllcorner_in, double cellsize_in);
  // Latitudes and longitudes of every cell in record order; written into the
  // files this writer creates from now on.
  void SetLatitudes(std::vector<double> values);
  void SetLongitudes(std::vector<double> values);
  void RegisterFileVariable(const std::string& file_name, const std::string& variable_name);
  // Whether this writer has created `file_name` during this run.
  bool HasCreated(const std::string& file_name) const;

  // Appends one record of ncols x nrows values in record order, from
  // `double_values` or `float_values` by `double_precision`. The first call
  // for a file name in a run creates the file anew (replacing any file of
  // that name); later calls append. A netCDF failure writes its FATAL entry
  // and throws 26: the file is closed first, and a file this call created is
  // removed, so that no half-defined file is left behind.
  void WriteRecord(bool double_precision, const double* double_values, const float* float_values,
                   const std::string& file_name, const std::string& variable_name, int nrows, int ncols,
                   double missing_value, double record_cellsize);

  void FreeNameLists();

  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 1.0;
  bool has_latitudes = false;
  bool has_longitudes = false;
  std::vector<double> latitudes;
  std::vector<double> longitudes;
  std::vector<std::string> created_files;
  std::vector<std::string> pair_files;
  std::vector<std::string> pair_variables;

 private:
  MessageStream* messages_;
};

// What ReadRecord found beside the values.
struct netcdf_record_info {
  int nrows = 0;
  int ncols = 0;
  double xllcorner = 0.0;  // west edge of the first column
  double yllcorner = 0.0;  // south edge of the southernmost row
  double cellsize = -1.0;  // -1: unknown
  double missing_value = -9999.0;
  int record_count = 0;
};

class NetcdfGridReader {
 public:
  explicit NetcdfGridReader(MessageStream* messages) : messages_(messages) {}
  ~NetcdfGridReader();
  NetcdfGridReader(const NetcdfGridReader&) = delete;
  NetcdfGridReader& operator=(const NetcdfGridReader&) = delete;

  // Reads one record of a grid variable into `values` (ncols x nrows
  // doubles in record order, missing cells as NaN). `record_path` is
  // "file<variable>record" or a bare file name; a record path with both
  // brackets is cut to its file name and names its own record, otherwise
  // `record_index` is read. `info` receives the grid's size, georeference,
  // missing value and record count; fields the file does not give keep
  // their values (the cell size is set to -1 first).
  //
  // The grid variable has the dimensions (record, x, y) or (record, y, x),
  // or (x, y) or (y, x) as a single record; x is named "x", "lon" or
  // "longitude", y "y", "lat" or "latitude". Either direction of y is read,
  // packed values are unpacked (scale_factor, add_offset), and cells holding
  // missing_value (else _FillValue) or NaN are missing. Coordinates are cell
  // corners, or cell centres in a file whose Conventions name CF.
  //
  // Files stay open until CloseAll. Failures write their FATAL entry and
  // throw 26 (1100 for the 1001st file).
  void ReadRecord(std::vector<double>& values, std::string& record_path, netcdf_record_info& info,
                  int record_index);
  // Closes every file held open.
  void CloseAll();

  // File name -> netCDF id of every file opened, read-only.
  std::map<std::string, int> open_files;

 private:
  int OpenCached(const std::string& file_name);
  MessageStream* messages_;
  bool fallback_reported_ = false;
};

}  // namespace velmo
