// Base class of every model object: model domain, control-file access, dates,
// running statistics, file-name prefixing and clean-up.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory.h"
#include "framework/types.h"

namespace velmo {

class NetcdfGridWriter;
class NetcdfGridReader;
struct output_cell_runs;
class grid_table;

// Longest line the control-file readers take at once.
inline constexpr int kLineLength = 2399;

// Control-file error codes shared by every reader.
inline constexpr int kControlFileErrorCode = 17;
inline constexpr int kWriteErrorCode = 18;
inline constexpr int kReadErrorCode = 19;
// The control file (or a copy of it) cannot be opened, or closed again.
inline constexpr int kControlFileOpenErrorCode = 28;
inline constexpr int kControlFileCloseErrorCode = 11;
// A computed value is not a number or infinite: water the model cannot
// account for, which must not reach its tables, grids and state file.
inline constexpr int kNotFiniteCode = 69;
// Largest size of a value in a state grid: no store of a cell holds more (mm).
inline constexpr double kLargestStateValue = 1.0e6;

// Reads the next whitespace-delimited token, of any length.
// Returns false at end of file before any character of a token.
bool ReadToken(std::FILE* file, std::string& token);
// Reads the next token as a whole number (int) or a finite number (double),
// as fscanf would read one value: 1 when read, 0 when the token is no such
// number as a whole (it is left in the file), EOF at the end of the file.
int ScanWholeValue(std::FILE* file, int& value);
int ScanWholeValue(std::FILE* file, double& value);
// Reads the rest of the current line, without its line end. Returns false when
// the file was already at its end.
bool ReadRestOfLine(std::FILE* file, std::string& rest);
// Reads one whole line of any length, without its line end (LF or CR LF).
// Returns false when the file was already at its end.
bool ReadWholeLine(std::FILE* file, std::string& line);

// Name of the model log of process `process_index`: "modell_<index>.log".
std::string ModelLogName(int process_index);

// What the cells of a grid file hold. Codes (land uses, soil types, zones,
// regions, river links) name classes: where a file must be resampled they
// take the code of the source cell holding the target point, never a blend
// of codes that may name nothing.
enum class grid_content { values, codes };

// Work on the rows of a grid in the pass that writes it: each of both may be
// empty.
struct grid_row_work {
  std::function<void(int row)> before;
  std::function<void(int row)> after;
};

class modelobject : public memory_handling {
 public:
  modelobject(MessageStream* stream, const std::string& control_file_name, bool write_ascii_grids = true,
              bool write_double_grids = false, bool write_netcdf_grids = false,
              const std::string* initial_state_directory = nullptr,
              const std::string* default_output_directory = nullptr);
  ~modelobject() override;

  // --- log, dates, intervals
  virtual void WriteModelLog(const std::string& text);
  virtual void SetEndDate(int year, int month, int day, int hour, int minute);
  virtual void SetMessageInterval(int hours) { message_interval = hours; }
  virtual int GetMessageInterval() { return message_interval; }
  virtual double GetIntervalEndShift() { return interval_end_shift; }

  // --- grid table look-ups (framework/gridtable.cpp). Searches run over
  // entries 1..999 in index order and end at the first free entry; the
  // first match wins. Names compare exactly.
  // Index of the grid `grid_name`, or 0. Without look_past_empty the search
  // also ends at an entry that holds no data.
  virtual int FindGrid(const std::string& grid_name, bool look_past_empty);
  // Index of the grid `grid_name`; a missing grid is fatal (code 33).
  virtual int FindRequiredGrid(const std::string& grid_name);
  // Rows of the grid `grid_name`; a missing grid is fatal as above.
  double** RequiredGridData(const std::string& grid_name);
  // Rows of the grid `grid_name`, or null when FindGrid finds none.
  double** OptionalGridData(const std::string& grid_name, bool look_past_empty);
  // Index of the first of the names (in argument order, not table order)
  // that is present; none present is fatal (code 33).
  virtual int FindOneOfThreeGrids(const std::string& name1, const std::string& name2,
                                  const std::string& name3);
  virtual int FindOneOfFourGrids(const std::string& name1, const std::string& name2, const std::string& name3,
                                 const std::string& name4);

  // --- control-file errors
  [[noreturn]] virtual void RaiseControlFileError(const std::string& text1, const std::string& text2);
  [[noreturn]] virtual void RaiseWriteError(const std::string& file, int number);
  [[noreturn]] virtual void RaiseReadError(const std::string& file, int number);

  // --- positional control-file values; the text after a value is its comment
  // and lands in rest_of_line. A value is a whole token, up to the next white
  // space: a number must be one as a whole ("12abc", "3,5", "nan", "1e309" or
  // a whole number beyond its type are refused as unreadable).
  virtual int ReadTwoValues(std::FILE* file, const char* format, void* target1, void* target2,
                            const std::string& prompt, std::string& rest_of_line);
  virtual int ReadValue(std::FILE* file, const char* format, void* target, const std::string& prompt,
                        std::string& rest_of_line);
  int ReadValue(std::FILE* file, int& target, const std::string& prompt, std::string& rest_of_line) {
    return ReadValue(file, "%d", &target, prompt, rest_of_line);
  }
  int ReadValue(std::FILE* file, double& target, const std::string& prompt, std::string& rest_of_line) {
    return ReadValue(file, "%lf", &target, prompt, rest_of_line);
  }
  int ReadValue(std::FILE* file, std::string& target, const std::string& prompt, std::string& rest_of_line) {
    return ReadValue(file, "%s", &target, prompt, rest_of_line);
  }
  virtual bool FindSection(const std::string& section, bool report);

  // --- running statistics over grid cells
  virtual void ResetStatistics(double threshold);
  virtual void AddToStatistics(double value, double weight);
  virtual void GetStatistics(double& weight_sum, double& min, double& max, double& sum, double& mean,
                             double& deviation);

  // --- grid table entries (framework/gridtable.cpp)
  // Places `data` (not taken over: its owner frees it) in entry `index` under
  // `grid_name`, splits `write_code` and allocates the accumulators the code
  // asks for, rows first_row..last_row. Index 1000 is refused (code 12).
  virtual void RegisterGrid(int index, const std::string& file_name, double** data, double*** layers,
                            int layer_count, const std::string& grid_name, int write_code, int first_row,
                            int last_row);
  // Frees the entry's names and accumulators; `data` stays with its owner.
  virtual void ReleaseGrid(int index);
  // The name the period files of registered entry `index` are named from:
  // its file name, or its outname (with a WARNING naming both entries) when
  // another entry's period files of the same kind already carry the names
  // the file name would give.
  const std::string& PeriodFileSource(int index);

  // --- grid and stack files (framework/gridread.cpp, gridwrite.cpp; formats
  // in framework/gridio.h). Ctrl-C is ignored while a file is open.
  // Reads a grid file of any recognised format onto the model domain; a file
  // on another raster is resampled, bilinearly for values and by the source
  // cell holding each target point for codes. Cell size and corners within
  // 1e-9 relative of the domain's are the domain's raster. Relative names
  // are taken from InitialStateDirectory. With `allocate` a new matrix is
  // stored in `target` once the whole file has been read; otherwise `target`
  // must hold a matrix of the domain. fill_mode 1 fills holes inside the zone
  // grid from neighbouring cells, 2 with default_value. The row-range options
  // keep their places but every read spans rows 1..nrows.
  virtual void ReadGrid(const std::string& grid_name, double**& target, int fill_mode, bool allocate,
                        bool verbose, double default_value, bool report_fills, bool whole_domain = true,
                        int spare = 0, bool halo_rows = false, grid_content content = grid_content::values);
  // Reads a stack file into a new [row][column][level] matrix stored in
  // `target`; returns the highest level. The stack must match the domain.
  virtual int ReadStack(const std::string& stack_name, double***& target, bool whole_domain = true);
  // Writers; names are taken relative to DefaultOutputDirectory. Grids:
  // netcdf before ascii before binary; stacks: netcdf before binary before
  // ascii. A null row is written as nodata.
  virtual void WriteStack(const std::string& stack_name, double*** stack, int numlevels, bool ascii,
                          bool double_precision, bool netcdf);
  virtual void WriteGrid(const std::string& grid_name, double** grid, bool ascii, bool double_precision,
                         bool netcdf);
  // As WriteGrid, but first sets the cells outside each row's valid columns
  // to nodata in `grid` itself (not for netCDF output).
  virtual void WriteMaskedGrid(const std::string& grid_name, double** grid, bool ascii, bool double_precision,
                               bool netcdf);
  // As WriteGrid or WriteMaskedGrid, with work on each row done in the same
  // pass: `work.before(r)` just before row r is written, `work.after(r)` just
  // after (for netCDF output: before every row, then the record, then after).
  virtual void WriteGridRows(const std::string& grid_name, double** grid, bool ascii, bool double_precision,
                             bool netcdf, bool masked, const grid_row_work& work);

  // --- per-step output of grid-table entries (framework/gridoutput.cpp)
  // Called once per step after entry `index` has been computed: writes the
  // grid when its write code asks for it, keeps the period sum or mean, the
  // extremes and the vegetation-period accumulator, and writes their files
  // when their period ends. restrict_to_region 0 leaves out the region test
  // of a cell; skip_period_files suppresses the extremes and period files
  // (and the resets after them) for this call.
  virtual void WriteGridOutput(int index, int restrict_to_region, bool skip_period_files);
  // The same for a stack entry; only its write code counts.
  virtual void WriteStackOutput(int index);

  virtual double Interpolate(double x1, double y1, double x2, double y2, double x);
  virtual void SetReady(int flag) { ready = flag; }
  virtual void CleanUp();

  // A value of grid `grid` at (row, col), or the value `what` of the
  // subbasin of code `subbasin`, is NaN or infinite: the FATAL entry names
  // the module, and the run ends with kNotFiniteCode.
  [[noreturn]] void RaiseNotFinite(const std::string& grid, int row, int col, double value) const;
  [[noreturn]] void RaiseNotFiniteSubbasin(const std::string& what, int subbasin, double value) const;
  // Refuses (kGridReadErrorCode) a state grid read for a warm start that
  // holds, in a cell with data, more than any store of a cell can.
  void CheckStateGrid(const std::string& file, double** grid) const;

  // Prepends `directory` to `name` unless the name is absolute (a drive, "\\"
  // or a leading "/") or there is no directory.
  static void PrefixPath(const std::string* directory, std::string& name);
  void SetSourceGeoreference(double x, double y, double size, double** mask);
  void EmptyHook(int, int, int) {}

  // Opens the control file (or `file_name`) for reading, closing one still
  // open; derived constructors call it.
  void OpenControlFile() { OpenControlFile(control_file_name); }
  void OpenControlFile(const std::string& file_name);
  // Closes the control file when it is open; a close that fails writes
  // `entry` and throws `code`.
  void CloseControlFile(const std::string& entry, int code = kControlFileCloseErrorCode);

  // Fields. Public: the modules and the set-up object read each other's
  // settings through them as plain data.
  double min_to_int_end = 0.0;
  double interval_end_shift = 0.0;
  std::array<int, 13> month_lengths = kMonthLengths;
  std::string section_buffer;  // "[" + name + "]" of a submodel
  std::string control_file_name;
  std::FILE* control_file = nullptr;

  double stat_weight_sum = 0.0;
  double stat_min = 0.0;
  double stat_max = 0.0;
  double stat_sum = 0.0;
  double stat_sum_squares = 0.0;
  double stat_threshold = 0.0;
  bool stat_started = false;

  // Model domain and the rows this process computes.
  int ncols = 0;
  int nrows = 0;
  int first_row = 1;
  int last_row = 0;
  double xllcorner = 0.0;
  double yllcorner = 0.0;
  double cellsize = 0.0;
  double nodata_value = -9999.0;

  double** cell_weights = nullptr;  // data of "RelCellArea"

  // Georeference and mask an interpolator gives for its GIF and netCDF input;
  // 9999 = not given.
  double source_xllcorner = 9999.0;
  double source_yllcorner = 9999.0;
  double source_cellsize = 9999.0;
  double** source_mask = nullptr;

  // Palette conversion of GIF grids.
  double gif_exponent1 = 0.0767528404;
  double gif_factor1 = 0.00008916787;
  double gif_exponent2 = 0.0767528404;
  double gif_factor2 = 0.00008916787;
  int gif_threshold = 127;

  // Header of the last binary grid read or written: ncols, nrows, xllcorner,
  // yllcorner, cellsize, nodata, count, minimum, maximum, sum, mean, deviation.
  std::array<double, 12> binary_header{};
  // Wait between attempts to open a grid file that cannot be opened (ms).
  int open_retry_wait_ms = 200;

  // Copies of the model settings (not owned).
  zone_record* zone_table = nullptr;
  int* zone_code_map = nullptr;
  int* region_code_map = nullptr;
  row_range* row_ranges = nullptr;
  int zone_count = 0;
  int max_zone_code = 0;
  int region_count = 0;
  int max_region_code = 0;
  region_record* region_table = nullptr;

  model_date current_date;
  model_date start_date;
  model_date end_date;
  std::array<int, 5> date_key_factors = kDateKeyFactors;
  date_key_t end_date_key = 0;

  bool WriteAsciiGrids = true;
  bool WriteDoubleGrids = false;
  bool WriteNetcdfGrids = false;
  // Directory prefixes; absent when not given.
  std::unique_ptr<std::string> DefaultOutputDirectory;
  std::unique_ptr<std::string> InitialStateDirectory;

  int time_step = 0;  // minutes
  grid_table* grids = nullptr;
  double** mpi_regions_data = nullptr;
  double** mpi_helper_data = nullptr;
  // Whether the grid output has looked "MPIRegions" and "MPIHelper" up in
  // the table: once, at its first call, since the set-up object registers
  // them before any module is built (and sets its own pointers itself).
  bool region_grids_looked_up = false;
  // The valid cells of the grid output's accumulators, made at its first
  // call (framework/gridoutput.cpp).
  std::unique_ptr<output_cell_runs> output_cells;
  int process_index = 0;
  int process_count = 1;
  int message_interval = 1;  // hours

  std::unique_ptr<NetcdfGridWriter> netcdf_writer;
  std::unique_ptr<NetcdfGridReader> netcdf_reader;

 protected:
  bool cleaned_up = false;
};

}  // namespace velmo
