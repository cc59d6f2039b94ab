// Grid and stack reading of the model object.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <optional>
#include <thread>

#include "framework/diagnostics.h"
#include "framework/gifreader.h"
#include "framework/gridio.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"
#include "framework/netcdfgrid.h"
#include "framework/texthelpers.h"

namespace velmo {
namespace {

// Bytes looked at to tell the formats apart: a whole binary double header.
constexpr size_t kHeadBytes = kDoubleHeaderBytes;
// Item numbers of the header values in the error messages.
constexpr int kNcolsItem = 1;
constexpr int kNrowsItem = 2;
constexpr int kXllcornerItem = 3;
constexpr int kYllcornerItem = 4;
constexpr int kCellsizeItem = 5;

// A raster of the file's own size, [row][col] from 1, freed with the scope.
class Raster {
 public:
  Raster(int ncols, int nrows)
      : stride_(static_cast<size_t>(ncols) + 1),
        cells_(stride_ * static_cast<size_t>(nrows)),
        rows_(static_cast<size_t>(nrows) + 1, nullptr) {
    for (int r = 1; r <= nrows; ++r) rows_[r] = cells_.data() + static_cast<size_t>(r - 1) * stride_;
  }
  double** rows() { return rows_.data(); }

 private:
  size_t stride_;
  std::vector<double> cells_;
  std::vector<double*> rows_;
};

// Gives every cell holding the file's nodata value the marker `missing`.
void MapNodata(double* cells, int count, double file_nodata, double missing) {
  if (file_nodata == missing) return;
  for (int i = 0; i < count; ++i)
    if (cells[i] == file_nodata) cells[i] = missing;
}

// Index of the first nan or inf among `count` cells, or -1. Binary files
// can hold them where text files cannot; no model computation copes with one.
int FirstNonFinite(const double* cells, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!std::isfinite(cells[i])) return static_cast<int>(i);
  return -1;
}

// Gives every cell that resampling left missing the domain's nodata value.
void MarkResampledMissing(double** grid, int nrows, int ncols, double domain_nodata) {
  for (int r = 1; r <= nrows; ++r) {
    double* cells = grid[r];
    for (int c = 1; c <= ncols; ++c)
      if (cells[c] <= kResampleMissing) cells[c] = domain_nodata;
  }
}

// Reading one grid file; the file is open and positioned at its start.
// The line of an ASCII grid where its values first outrun the head: the first
// line of more than `ncols` values, else the line of value ncols x nrows + 1.
// 0 when the file cannot be read again. Only a refused file is read twice.
long long FirstOverflowingLine(const std::string& file, int ncols, int nrows) {
  GridFile in(std::fopen(file.c_str(), "rb"));
  if (!in) return 0;
  const long long cells = static_cast<long long>(ncols) * nrows;
  long long head_tokens = 2LL * kAsciiHeaderItems;
  long long values = 0;
  long long line_number = 0;
  std::string line;
  while (ReadWholeLine(in.get(), line)) {
    ++line_number;
    long long tokens = 0;
    for (size_t at = 0; at < line.size(); ++at)
      if (!IsSpace(line[at]) && (at == 0 || IsSpace(line[at - 1]))) ++tokens;
    const long long of_head = std::min(tokens, head_tokens);
    head_tokens -= of_head;
    tokens -= of_head;
    values += tokens;
    if (tokens > ncols || values > cells) return line_number;
  }
  return 0;
}

class GridFileReader {
 public:
  GridFileReader(modelobject& owner, const std::string& file, std::FILE* in, GridFileFormat format)
      : owner_(owner), file_(file), in_(in), format_(format) {}

  // Reads the header into `header` (the first six values; all twelve for
  // binary files) and checks the sizes.
  void ReadHeader(std::array<double, kBinaryHeaderValues>& header) {
    if (format_ == GridFileFormat::kAscii) {
      ReadAsciiHeader(header);
    } else if (format_ == GridFileFormat::kBinaryDouble) {
      ReadDoubleHeader(header);
    } else {
      ReadSingleHeader(header);
    }
    file_ncols_ = static_cast<int>(std::floor(header[0]));
    file_nrows_ = static_cast<int>(std::floor(header[1]));
    file_nodata_ = header[5];
  }

  // Refuses a binary file too short for the raster its header declares, so
  // that no matrix of a size the file cannot fill is ever allocated.
  void CheckValuesFit(bool resampling) {
    if (format_ == GridFileFormat::kAscii) return;  // its header check counts the cells
    const long long value_bytes = format_ == GridFileFormat::kBinaryDouble ? sizeof(double) : sizeof(float);
    const long long needed =
        kBinaryHeaderValues * value_bytes + static_cast<long long>(file_ncols_) * file_nrows_ * value_bytes;
    if (FileSize(in_) < needed) RaiseFatal(owner_.messages, ValuesFailure(resampling), kGridReadErrorCode);
  }

  // Reads the file's raster into rows 1..nrows, columns 1..ncols of `grid`
  // (a raster of the file's size). Its nodata value becomes the domain's, or
  // for resampling the marker that ResampleBilinear takes as missing, so that
  // it never enters an interpolation as a value.
  void ReadValues(double** grid, bool resampling) {
    const double missing = resampling ? kResampleMissing : owner_.nodata_value;
    if (format_ == GridFileFormat::kAscii) {
      for (int r = 1; r <= file_nrows_; ++r) {
        double* row = grid[r];
        for (int c = 1; c <= file_ncols_; ++c) {
          bool is_number = false;
          if (!scanner_->NextNumber(row[c], is_number) || !is_number)
            RaiseFatal(owner_.messages,
                       "FATAL: error reading ascii grid " + file_ + " in ASCII-Format in row " +
                           std::to_string(r) + ", col " + std::to_string(c),
                       kGridReadErrorCode);
        }
        MapNodata(row + 1, file_ncols_, file_nodata_, missing);
      }
      // Values beyond the head's raster mean rows that do not fit it: the
      // raster read would be shifted.
      if (std::string_view surplus; scanner_->Next(surplus))
        RaiseFatal(owner_.messages,
                   "FATAL: error reading ascii grid " + file_ + " in ASCII-Format: more values than ncols " +
                       std::to_string(file_ncols_) + " x nrows " + std::to_string(file_nrows_) + ", line " +
                       std::to_string(FirstOverflowingLine(file_, file_ncols_, file_nrows_)) +
                       " is the first that does not fit",
                   kGridReadErrorCode);
      return;
    }
    const std::string failure = ValuesFailure(resampling);
    std::vector<unsigned char> scratch;
    for (int r = 1; r <= file_nrows_; ++r) {
      double* row = grid[r] + 1;
      const bool ok =
          format_ == GridFileFormat::kBinaryDouble
              ? ReadLittleEndianValues<double>(in_, row, static_cast<size_t>(file_ncols_), scratch)
              : ReadLittleEndianValues<float>(in_, row, static_cast<size_t>(file_ncols_), scratch);
      if (!ok) RaiseFatal(owner_.messages, failure, kGridReadErrorCode);
      if (const int bad = FirstNonFinite(row, static_cast<size_t>(file_ncols_)); bad >= 0)
        RaiseFatal(owner_.messages,
                   failure + " in row " + std::to_string(r) + ", col " + std::to_string(bad + 1),
                   kGridReadErrorCode);
      MapNodata(row, file_ncols_, file_nodata_, missing);
    }
  }

  int file_ncols() const { return file_ncols_; }
  int file_nrows() const { return file_nrows_; }

 private:
  // The read error of a binary raster (the same text for both precisions).
  std::string ValuesFailure(bool resampling) const {
    return resampling ? "FATAL: error reading (irregular) float  grid " + file_
                      : "FATAL: error reading double grid " + file_;
  }

  void ReadAsciiHeader(std::array<double, kBinaryHeaderValues>& header) {
    scanner_.emplace(in_);
    auto fail = [&](int item) {
      RaiseFatal(owner_.messages,
                 "FATAL: error reading ascii value #" + std::to_string(item) + " from " + file_,
                 kGridReadErrorCode);
    };
    if (const int bad_item = ReadAsciiHeaderItems(*scanner_, header)) fail(bad_item);
    if (!PlausibleDimension(header[0])) fail(kNcolsItem);
    if (!PlausibleDimension(header[1])) fail(kNrowsItem);
    if (!PlausibleCellsize(header[4])) fail(kCellsizeItem);
    // Every value takes at least one character: more cells than bytes is
    // no grid but a broken header.
    const double cells = std::floor(header[0]) * std::floor(header[1]);
    if (cells > static_cast<double>(FileSize(in_)))
      fail(std::floor(header[0]) > FileSize(in_) ? kNcolsItem : kNrowsItem);
  }

  void ReadDoubleHeader(std::array<double, kBinaryHeaderValues>& header) {
    std::vector<unsigned char> scratch;
    if (!ReadLittleEndianValues<double>(in_, header.data(), kBinaryHeaderValues, scratch) ||
        !PlausibleDimension(header[0]) || !PlausibleDimension(header[1]) || !PlausibleCellsize(header[4]) ||
        !std::isfinite(header[2]) || !std::isfinite(header[3]))
      RaiseFatal(owner_.messages, "FATAL: error reading double value from the header of " + file_,
                 kGridReadErrorCode);
  }

  void ReadSingleHeader(std::array<double, kBinaryHeaderValues>& header) {
    std::vector<unsigned char> scratch;
    auto fail = [&](int item) {
      RaiseFatal(
          owner_.messages,
          "FATAL: error reading double value #" + std::to_string(item) + " from the header of " + file_,
          kGridReadErrorCode);
    };
    for (int i = 0; i < kBinaryHeaderValues; ++i)
      if (!ReadLittleEndianValues<float>(in_, &header[i], 1, scratch)) fail(i + 1);
    if (!PlausibleDimension(header[0])) fail(kNcolsItem);
    if (!PlausibleDimension(header[1])) fail(kNrowsItem);
    if (!std::isfinite(header[2])) fail(kXllcornerItem);
    if (!std::isfinite(header[3])) fail(kYllcornerItem);
    if (!PlausibleCellsize(header[4])) fail(kCellsizeItem);
  }

  modelobject& owner_;
  const std::string& file_;
  std::FILE* in_;
  GridFileFormat format_;
  std::optional<TokenScanner> scanner_;
  int file_ncols_ = 0;
  int file_nrows_ = 0;
  double file_nodata_ = kBinaryNodata;
};

// Opens a grid file, retrying a few times: input files may be written by
// another program while the model runs.
std::FILE* OpenWithRetries(modelobject& owner, const std::string& file) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  for (int retries_left = kGridOpenRetries; !in && retries_left > 0; --retries_left) {
    // A retry that may still succeed is no failure of the run: tools take a
    // level-0 line in the diagnostics file as one.
    *owner.messages << "WARNING: error opening " << file << ". Will try again in " << owner.open_retry_wait_ms
                    << " ms... (retriesleft = " << retries_left << ")"
                    << "[end-entry]";
    std::this_thread::sleep_for(std::chrono::milliseconds(owner.open_retry_wait_ms));
    in = std::fopen(file.c_str(), "rb");
  }
  if (!in)
    RaiseFatal(owner.messages, "FATAL: still error opening " + file + " - no retry.", kGridOpenErrorCode);
  return in;
}

// Exported headers carry 99.99999999999 for 100: sizes and corners this
// close are the same.
constexpr double kSameRasterTolerance = 1e-9;  // relative

bool NearlyEqual(double a, double b, double scale) {
  return std::fabs(a - b) <= kSameRasterTolerance * std::max({std::fabs(a), std::fabs(b), scale});
}

bool DiffersFromDomain(const modelobject& domain, const std::array<double, kBinaryHeaderValues>& header) {
  // Corners also compare by their whole part so that rounding in the header
  // text does not force a resampling; a corner near 0 is judged on the scale
  // of a cell. The nodata value plays no part: the file's is replaced by the
  // domain's as the values are read, and resampling a grid on the domain's
  // own raster would only smear it.
  auto same_corner = [&](double file, double own) {
    return std::floor(file) == std::floor(own) || NearlyEqual(file, own, domain.cellsize);
  };
  return std::floor(header[0]) != domain.ncols || std::floor(header[1]) != domain.nrows ||
         !same_corner(header[2], domain.xllcorner) || !same_corner(header[3], domain.yllcorner) ||
         !NearlyEqual(header[4], domain.cellsize, 0.0);
}

// Fills the holes of a grid just read and reports every replacement on the
// message stream and in the model log.
void FillAndReport(modelobject& owner, const std::string& file, double** grid, int fill_mode,
                   double default_value, bool report_fills, bool verbose) {
  // The zone grid defines where holes are; while it is being read itself
  // there is nothing to compare with.
  double** zones = owner.grids ? (*owner.grids)[1].data : nullptr;
  if (!zones || zones == grid) return;
  if (verbose)
    *owner.messages << "... " << file << " checking nodata values and replace"
                    << "[end-entry]";
  const std::string log_name = ModelLogName(owner.process_index);
  GridFile log(std::fopen(log_name.c_str(), "a"));
  if (!log) RaiseFatal(owner.messages, "FATAL: error opening log file " + log_name, kModelLogErrorCode);

  const hole_fill_result result = FillHoles(grid, zones, owner.nrows, owner.ncols, owner.nodata_value,
                                            fill_mode, default_value, report_fills);
  for (const hole_fill& fill : result.fills) {
    *owner.messages << "DEBUG: "
                    << "y: " << fill.row << " x: " << fill.col << "in " << file << ": " << fill.old_value
                    << " replaced by " << fill.new_value << "[end-entry]";
    std::fprintf(log.get(), "y: %d x: %d  in %s %lf replaced by %lf!\n", fill.row, fill.col, file.c_str(),
                 fill.old_value, fill.new_value);
  }
  if (result.too_big) {
    std::fprintf(log.get(), "In %s is a too big hole at x/y = %d/%d\n!\n", file.c_str(), result.too_big_col,
                 result.too_big_row);
    log.Close();
    RaiseFatal(owner.messages,
               "FATAL: In " + file + " is a too big hole at x/y = " + std::to_string(result.too_big_col) +
                   "/" + std::to_string(result.too_big_row) + "!",
               kTooBigHoleErrorCode);
  }
  if (result.hole_count > 0) {
    *owner.messages << "DEBUG: In " << file << ": " << result.hole_count << " nodata values replaced!"
                    << "[end-entry]";
    std::fprintf(log.get(), "in %s: %ld nodata values replaced!\n\n", file.c_str(), result.hole_count);
  }
  log.Close();
}

// The domain's raster as the header of a grid that carries none of its own
// (netCDF, GIF).
std::array<double, kBinaryHeaderValues> DomainRaster(const modelobject& domain) {
  std::array<double, kBinaryHeaderValues> header{};
  header[0] = domain.ncols;
  header[1] = domain.nrows;
  header[2] = std::floor(domain.xllcorner);
  header[3] = std::floor(domain.yllcorner);
  header[4] = domain.cellsize;
  header[5] = domain.nodata_value;
  return header;
}

// netCDF and GIF input without a source georeference from an interpolator
// lies on the domain's raster.
bool HasSourceGeoreference(const modelobject& owner) {
  constexpr double kNotGiven = 9999.0;
  return !(owner.source_xllcorner == kNotGiven && owner.source_yllcorner == kNotGiven &&
           owner.source_cellsize == kNotGiven);
}

// The message of a netCDF record or GIF image whose size is not the domain's
// while no source georeference says where it lies.
[[noreturn]] void SizeMismatch(const modelobject& owner, const std::string& kind, const std::string& in_file,
                               const std::string& file, int columns, int rows) {
  RaiseFatal(
      owner.messages,
      "FATAL: error assigning cell values from a " + kind + " file to Velmo grids from file " + file +
          ". number of columns (" + std::to_string(columns) + ") and/or rows (" + std::to_string(rows) +
          ") in " + in_file + " not matching those in Velmo (" + std::to_string(owner.ncols) + " and " +
          std::to_string(owner.nrows) +
          " resp.).\n If the error occurs in interpolation method 9, please define xllcorner, yllcorner "
          "and cellsize in the x-, y- and z header rows of the input file for interpolation",
      kGridReadErrorCode);
}

// The mask that cuts input lying on the domain's raster: the interpolator's,
// else the zone grid (none while the zone grid itself is read).
double** DomainMask(const modelobject& owner, double** grid) {
  if (owner.source_mask) return owner.source_mask;
  double** zones = owner.grids ? (*owner.grids)[1].data : nullptr;
  return zones == grid ? nullptr : zones;
}

// A netCDF record read into `grid`: copied when it lies on the domain's
// raster, else resampled from the interpolator's georeference, which gives
// the centre of the lower-left cell.
void ReadNetcdfGrid(modelobject& owner, const std::string& file, const std::string& record_part,
                    double** grid) {
  if (!owner.netcdf_reader) owner.netcdf_reader = std::make_unique<NetcdfGridReader>(owner.messages);
  std::string record_path = file + record_part;
  std::vector<double> values;
  netcdf_record_info info;
  owner.netcdf_reader->ReadRecord(values, record_path, info, 0);
  const size_t nrows = static_cast<size_t>(info.nrows);

  if (!HasSourceGeoreference(owner)) {
    if (info.nrows != owner.nrows || info.ncols != owner.ncols)
      SizeMismatch(owner, "netCDF", "nc-file", file, info.ncols, info.nrows);
    double** mask = DomainMask(owner, grid);
    for (int r = 1; r <= owner.nrows; ++r) {
      double* cells = grid[r];
      const double* mask_row = mask ? mask[r] : nullptr;
      for (int c = 1; c <= owner.ncols; ++c) {
        const double v = values[static_cast<size_t>(c - 1) * nrows + static_cast<size_t>(r - 1)];
        cells[c] = std::isnan(v) || (mask_row && mask_row[c] == owner.nodata_value) ? owner.nodata_value : v;
      }
    }
    return;
  }
  if (info.nrows < 1 || info.ncols < 1)
    SizeMismatch(owner, "netCDF", "nc-file", file, info.ncols, info.nrows);
  Raster raster(info.ncols, info.nrows);
  for (int r = 1; r <= info.nrows; ++r) {
    double* cells = raster.rows()[r];
    for (int c = 1; c <= info.ncols; ++c) {
      const double v = values[static_cast<size_t>(c - 1) * nrows + static_cast<size_t>(r - 1)];
      cells[c] = std::isnan(v) ? kResampleMissing : v;
    }
  }
  const double half_cell = owner.source_cellsize / 2.0;
  ResampleBilinear(raster.rows(), 1, info.ncols, 1, info.nrows, owner.source_xllcorner - half_cell,
                   owner.source_yllcorner - half_cell, owner.source_cellsize, grid, 1, owner.ncols, 1,
                   owner.nrows, owner.xllcorner, owner.yllcorner, owner.cellsize, owner.source_mask);
  MarkResampledMissing(grid, owner.nrows, owner.ncols, owner.nodata_value);
}

// A GIF image read into `grid`: its palette indices copied when it lies on
// the domain's raster, else resampled from the interpolator's georeference
// (the lower-left corner), then turned into values.
void ReadGifGrid(modelobject& owner, const std::string& file, double** grid) {
  // Where an interpolator gives no georeference of its own.
  constexpr double kDefaultGifXllcorner = 255000.0;
  constexpr double kDefaultGifYllcorner = -160000.0;
  constexpr double kDefaultGifCellsize = 1000.0;
  try {
    GifReader reader(file);
    int width = 0, height = 0;
    reader.ReadSize(width, height);
    Raster raster(width, height);
    reader.Decode(raster.rows());
    if (!HasSourceGeoreference(owner)) {
      if (width != owner.ncols || height != owner.nrows)
        SizeMismatch(owner, "GIF", "the GIF file", file, width, height);
      double** mask = DomainMask(owner, grid);
      for (int r = 1; r <= owner.nrows; ++r) {
        const double* indices = raster.rows()[r];
        const double* mask_row = mask ? mask[r] : nullptr;
        double* cells = grid[r];
        for (int c = 1; c <= owner.ncols; ++c)
          cells[c] = mask_row && mask_row[c] == owner.nodata_value ? kResampleMissing : indices[c];
      }
    } else {
      if (owner.source_xllcorner == 0.0) owner.source_xllcorner = kDefaultGifXllcorner;
      if (owner.source_yllcorner == 0.0) owner.source_yllcorner = kDefaultGifYllcorner;
      if (owner.source_cellsize == 0.0) owner.source_cellsize = kDefaultGifCellsize;
      ResampleBilinear(raster.rows(), 1, width, 1, height, owner.source_xllcorner, owner.source_yllcorner,
                       owner.source_cellsize, grid, 1, owner.ncols, 1, owner.nrows, owner.xllcorner,
                       owner.yllcorner, owner.cellsize, owner.source_mask);
    }
  } catch (const std::string& text) {
    RaiseFatal(owner.messages, "FATAL: error reading GIF " + file + " (" + text + ")", kGridReadErrorCode);
  }
  GifReader::ConvertPaletteIndices(grid, owner.ncols, owner.nrows, owner.gif_factor1, owner.gif_exponent1,
                                   owner.gif_threshold, owner.gif_factor2, owner.gif_exponent2);
  MarkResampledMissing(grid, owner.nrows, owner.ncols, owner.nodata_value);
}

}  // namespace

void modelobject::ReadGrid(const std::string& grid_name, double**& target, int fill_mode, bool allocate,
                           bool verbose, double default_value, bool report_fills, bool /*whole_domain*/,
                           int /*spare*/, bool /*halo_rows*/, grid_content content) {
  InterruptGuard no_interrupt;
  // "file.nc<var>record" names a record of a netCDF file; the reader of the
  // record gets the prefixed file name with the record part appended.
  std::string file = grid_name;
  std::string record_part;
  if (const size_t angle = file.find('<', 1); angle != std::string::npos) {
    record_part = file.substr(angle);
    file.resize(angle);
  }
  PrefixPath(InitialStateDirectory.get(), file);

  GridFile in(OpenWithRetries(*this, file));
  std::array<unsigned char, kHeadBytes> head{};
  const size_t head_size = std::fread(head.data(), 1, head.size(), in.get());
  const GridFileFormat format = DetectGridFormat(std::span(head.data(), head_size));
  if (format == GridFileFormat::kUnknown)
    RaiseFatal(
        messages,
        "FATAL: could not recognise file format (neither ascii, nor single, double, or GIF) for " + file,
        kGridReadErrorCode);
  std::rewind(in.get());
  if (verbose)
    *messages << "reading " << file << " for " << name << "..."
              << "[end-entry]";

  auto check_target = [&] {
    if (!allocate && !target)
      RaiseFatal(
          messages,
          "FATAL: error reading grid " + file + " no memory allocated (pointer given to function is NULL)",
          kGridReadErrorCode);
  };
  // A matrix of the reader's own is freed unless the whole file was read;
  // reading or resampling sets every cell of the domain.
  owned_matrix owned;
  auto grid_to_fill = [&] {
    if (!allocate) return target;
    owned = owned_matrix(matrix(1, nrows, 1, ncols, nrows));
    return owned.get();
  };
  double** grid = nullptr;

  if (format == GridFileFormat::kNetcdf || format == GridFileFormat::kGif) {
    const std::array<double, kBinaryHeaderValues> header = DomainRaster(*this);
    std::copy_n(header.begin(), kAsciiHeaderItems, binary_header.begin());
    check_target();
    grid = grid_to_fill();
    if (format == GridFileFormat::kNetcdf) {
      ReadNetcdfGrid(*this, file, record_part, grid);
    } else {
      ReadGifGrid(*this, file, grid);
    }
  } else {
    GridFileReader reader(*this, file, in.get(), format);
    std::array<double, kBinaryHeaderValues> header = binary_header;
    reader.ReadHeader(header);
    const bool differs = DiffersFromDomain(*this, header);
    const double file_xllcorner = header[2];
    const double file_yllcorner = header[3];
    header[2] = std::floor(header[2]);
    header[3] = std::floor(header[3]);
    binary_header = header;

    check_target();
    reader.CheckValuesFit(differs);
    grid = grid_to_fill();
    if (!differs) {
      reader.ReadValues(grid, false);
    } else {
      Raster raster(reader.file_ncols(), reader.file_nrows());
      reader.ReadValues(raster.rows(), true);
      // The corners as the file gives them: their whole parts only decide
      // whether the file matches the domain.
      if (content == grid_content::codes)
        ResampleHoldingCell(raster.rows(), reader.file_ncols(), reader.file_nrows(), file_xllcorner,
                            file_yllcorner, header[4], grid, ncols, nrows, xllcorner, yllcorner, cellsize,
                            source_mask);
      else
        ResampleBilinear(raster.rows(), 1, reader.file_ncols(), 1, reader.file_nrows(), file_xllcorner,
                         file_yllcorner, header[4], grid, 1, ncols, 1, nrows, xllcorner, yllcorner, cellsize,
                         source_mask);
      MarkResampledMissing(grid, nrows, ncols, nodata_value);
    }
  }
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing grid " + file, kGridCloseErrorCode);

  if (fill_mode == 1 || fill_mode == 2)
    FillAndReport(*this, file, grid, fill_mode, default_value, report_fills, verbose);
  if (allocate) target = owned.release();
}

namespace {

[[noreturn]] void StackFormatUnknown(MessageStream* messages, const std::string& file) {
  RaiseFatal(
      messages,
      "FATAL: Error: could not recognize file format (ascii, single float or double float) for stack " + file,
      kGridReadErrorCode);
}

// A netCDF stack: one record per level, on the domain's raster.
int ReadNetcdfStack(modelobject& owner, const std::string& file, double***& target) {
  if (!owner.netcdf_reader) owner.netcdf_reader = std::make_unique<NetcdfGridReader>(owner.messages);
  NetcdfGridReader& reader = *owner.netcdf_reader;
  std::string record_path = file;
  std::vector<double> values;
  netcdf_record_info info;
  reader.ReadRecord(values, record_path, info, 0);
  if (info.ncols != owner.ncols || info.nrows != owner.nrows ||
      std::floor(info.xllcorner) != std::floor(owner.xllcorner) ||
      std::floor(info.yllcorner) != std::floor(owner.yllcorner) || info.cellsize != owner.cellsize) {
    constexpr size_t kShownNameLength = 125;
    const std::string zone_file = owner.grids ? (*owner.grids)[1].file_name : std::string();
    *owner.messages << "FATAL: \nError: " << file << " has not the specified stack measures (in "
                    << owner.name << ")\n"
                    << LastCharacters(zone_file, kShownNameLength) << " <--vs.--> "
                    << LastCharacters(file, kShownNameLength) << "\n expected ncols: " << owner.ncols
                    << " <-> read from stack: " << info.ncols << "\n expected nrows: " << owner.nrows
                    << " <-> read from stack: " << info.nrows << "\n expected xll:   " << owner.xllcorner
                    << " <-> read from stack: " << info.xllcorner << "\n expected yll:   " << owner.yllcorner
                    << " <-> read from stack: " << info.yllcorner << "\n expected cs:" << owner.cellsize
                    << " <-> read from stack: " << info.cellsize
                    << "\n expected levels:" << info.record_count - 1
                    << " <-> read from stack: " << info.record_count
                    << "\n\n netCDF stacks that are not meteorologic input data must still match the model "
                       "domain structure as given by the first grid and the soil table"
                    << "[end-entry]";
    throw ErrorCode{kStackMeasuresErrorCode};
  }
  const int numlevels = info.record_count - 1;
  std::array<double, kBinaryHeaderValues> header = DomainRaster(owner);
  header[kStackLevelsIndex] = numlevels;
  owner.binary_header = header;

  owned_stack stack(owner.Matrix3D(1, owner.nrows, 1, owner.ncols, numlevels, owner.nrows));
  double*** data = stack.get();
  const size_t nrows = static_cast<size_t>(owner.nrows);
  for (int l = 0; l <= numlevels; ++l) {
    if (l > 0) reader.ReadRecord(values, record_path, info, l);
    for (int c = 1; c <= owner.ncols; ++c) {
      const double* column = values.data() + static_cast<size_t>(c - 1) * nrows;
      for (int r = 1; r <= owner.nrows; ++r) {
        const double v = column[r - 1];
        data[r][c][l] = std::isnan(v) ? owner.nodata_value : v;
      }
    }
  }
  target = stack.release();
  return numlevels;
}

}  // namespace

int modelobject::ReadStack(const std::string& stack_name, double***& target, bool /*whole_domain*/) {
  InterruptGuard no_interrupt;
  std::string file = stack_name;
  PrefixPath(InitialStateDirectory.get(), file);
  GridFile in(std::fopen(file.c_str(), "rb"));
  if (!in) RaiseFatal(messages, "FATAL: error opening " + file, kGridOpenErrorCode);
  *messages << "reading " << file << " for " << name << "..."
            << "[end-entry]";

  std::array<unsigned char, kHeadBytes> head{};
  const size_t head_size = std::fread(head.data(), 1, head.size(), in.get());
  const StackFileFormat format = DetectStackFormat(std::span(head.data(), head_size));
  const std::string header_failure = "FATAL: error reading from " + file;
  std::array<double, kBinaryHeaderValues> header{};
  std::optional<TokenScanner> scanner;
  switch (format) {
    case StackFileFormat::kNetcdf:
      in.Close();
      return ReadNetcdfStack(*this, file, target);
    case StackFileFormat::kUnknown:
      StackFormatUnknown(messages, file);
    case StackFileFormat::kShort:
      RaiseFatal(messages, header_failure, kGridReadErrorCode);
    case StackFileFormat::kAscii: {
      std::rewind(in.get());
      scanner.emplace(in.get());
      if (ReadHeaderPairs(*scanner, header) != 0) RaiseFatal(messages, header_failure, kGridReadErrorCode);
      break;
    }
    case StackFileFormat::kBinaryDouble:
      for (int i = 0; i < kBinaryHeaderValues; ++i)
        header[i] = LoadLittleEndian<double>(&head[i * sizeof(double)]);
      std::fseek(in.get(), kBinaryHeaderValues * sizeof(double), SEEK_SET);
      break;
    case StackFileFormat::kBinarySingle:
      for (int i = 0; i < kBinaryHeaderValues; ++i)
        header[i] = LoadLittleEndian<float>(&head[i * sizeof(float)]);
      std::fseek(in.get(), kBinaryHeaderValues * sizeof(float), SEEK_SET);
      break;
  }
  binary_header = header;

  // A stack is never resampled: it must lie on the domain's raster and carry
  // its nodata value.
  if (DiffersFromDomain(*this, header) || header[5] != nodata_value) {
    constexpr size_t kShownNameLength = 35;
    const std::string zone_file = grids ? (*grids)[1].file_name : std::string();
    *messages << "FATAL: " << file << " has not the specified grid measures (in " << name << ")\n"
              << LastCharacters(zone_file, kShownNameLength) << " " << LastCharacters(file, kShownNameLength)
              << "\n"
              << ncols << " " << header[0] << "\n"
              << nrows << " " << header[1] << "\n"
              << xllcorner << " " << header[2] << "\n"
              << yllcorner << " " << header[3] << "\n"
              << cellsize << " " << header[4] << "\n"
              << nodata_value << " " << header[5] << "\n"
              << "[end-entry]";
    if (!in.Close()) RaiseFatal(messages, "FATAL: error closing stack (1) " + file, kGridCloseErrorCode);
    throw ErrorCode{kStackMeasuresErrorCode};
  }

  // The level count must be one the file can hold before anything of its
  // size is allocated.
  const double levels_value = std::floor(header[kStackLevelsIndex]);
  const long long file_size = FileSize(in.get());
  const double cells = static_cast<double>(ncols) * nrows;
  if (!(levels_value >= 0.0) || cells * (levels_value + 1.0) > static_cast<double>(file_size))
    RaiseFatal(messages, header_failure, kGridReadErrorCode);
  const int numlevels = static_cast<int>(levels_value);
  const size_t depth = static_cast<size_t>(numlevels) + 1;
  const size_t row_values = static_cast<size_t>(ncols) * depth;

  owned_stack stack(Matrix3D(1, nrows, 1, ncols, numlevels, nrows));
  double*** data = stack.get();
  if (format == StackFileFormat::kAscii) {
    for (int r = 1; r <= nrows; ++r)
      for (int c = 1; c <= ncols; ++c)
        for (int l = 0; l <= numlevels; ++l) {
          bool is_number = false;
          if (!scanner->NextNumber(data[r][c][l], is_number) || !is_number)
            RaiseFatal(messages,
                       "FATAL: error reading ascii stack " + file + "at row " + std::to_string(r) +
                           ", column " + std::to_string(c) + ", level " + std::to_string(l),
                       kGridReadErrorCode);
        }
  } else {
    const bool is_double = format == StackFileFormat::kBinaryDouble;
    const std::string failure =
        std::string(is_double ? "FATAL: error reading double stack " : "FATAL: error reading float stack ") +
        file + "at row ";
    std::vector<double> row(row_values);
    std::vector<unsigned char> scratch;
    for (int r = 1; r <= nrows; ++r) {
      const bool ok = is_double ? ReadLittleEndianValues<double>(in.get(), row.data(), row_values, scratch)
                                : ReadLittleEndianValues<float>(in.get(), row.data(), row_values, scratch);
      if (!ok || FirstNonFinite(row.data(), row_values) >= 0)
        RaiseFatal(messages, failure + std::to_string(r), kGridReadErrorCode);
      for (int c = 1; c <= ncols; ++c) std::copy_n(row.data() + (c - 1) * depth, depth, data[r][c]);
    }
  }
  if (!in.Close()) RaiseFatal(messages, "FATAL: error closing stack (3) " + file, kGridCloseErrorCode);
  target = stack.release();
  return numlevels;
}

}  // namespace velmo
