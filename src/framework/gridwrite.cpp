// Grid and stack writing of the model object.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>

#include "framework/diagnostics.h"
#include "framework/gridio.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"
#include "framework/netcdfgrid.h"

namespace velmo {
namespace {

// Longest text of one value in "%g" ("-1.23457e-308") with its separator,
// rounded up.
constexpr size_t kMaxValueChars = 32;
// Text gathered before it goes to the file in one write.
constexpr size_t kTextBufferBytes = size_t{1} << 20;

struct column_span {
  int first = 1;
  int last = 0;
};

// Valid columns of a row, clipped to the domain; all columns when the object
// has no row ranges.
column_span ValidColumns(const modelobject& owner, int row) {
  if (!owner.row_ranges) return {1, owner.ncols};
  return {std::max(1, owner.row_ranges[row].first), std::min(owner.ncols, owner.row_ranges[row].last)};
}

bool RowWithoutValidColumns(const modelobject& owner, int row) {
  return owner.row_ranges && owner.row_ranges[row].last < 1;
}

void MaskRow(double* cells, int ncols, column_span valid, double nodata) {
  if (valid.last < valid.first) {
    std::fill_n(cells + 1, ncols, nodata);
    return;
  }
  std::fill(cells + 1, cells + valid.first, nodata);
  std::fill(cells + valid.last + 1, cells + ncols + 1, nodata);
}

// The header of a grid or stack written on the domain: its raster, zero
// statistics and `last` as the twelfth value (numlevels of a stack).
std::array<double, kBinaryHeaderValues> DomainHeader(const modelobject& owner, double last) {
  return {static_cast<double>(owner.ncols),
          static_cast<double>(owner.nrows),
          owner.xllcorner,
          owner.yllcorner,
          owner.cellsize,
          owner.nodata_value,
          0.0,
          0.0,
          0.0,
          0.0,
          0.0,
          last};
}

// Adds the cells of one existing row to the owner's running statistics.
void AddRowToStatistics(modelobject& owner, const double* cells, int row, bool masked) {
  if (!masked && RowWithoutValidColumns(owner, row)) {
    for (int c = 1; c <= owner.ncols; ++c) owner.modelobject::AddToStatistics(cells[c], 1.0);
    return;
  }
  const column_span valid = ValidColumns(owner, row);
  const double* weights = owner.cell_weights ? owner.cell_weights[row] : nullptr;
  for (int c = valid.first; c <= valid.last; ++c)
    owner.modelobject::AddToStatistics(cells[c], weights ? weights[c] : 1.0);
}

// Text of an ASCII file gathered in a large buffer that goes to the file
// whenever the next row might not fit, and at the end.
class text_rows {
 public:
  text_rows(modelobject& owner, const std::string& file, std::FILE* out, size_t row_bytes)
      : owner_(owner),
        file_(file),
        out_(out),
        row_bytes_(row_bytes),
        buffer_(std::max(kTextBufferBytes, row_bytes)),
        end_(buffer_.data()) {}

  // Where the next row's text starts; room for row_bytes.
  char* Row() {
    if (static_cast<size_t>(buffer_.data() + buffer_.size() - end_) < row_bytes_) Flush();
    return end_;
  }
  // The row's text ends at `end`.
  void Done(char* end) { end_ = end; }
  void Flush() {
    const size_t length = static_cast<size_t>(end_ - buffer_.data());
    if (std::fwrite(buffer_.data(), 1, length, out_) != length)
      owner_.RaiseWriteError(file_, kWriteErrorCode);
    end_ = buffer_.data();
  }
  // One past the last byte a row may use.
  char* Limit() { return buffer_.data() + buffer_.size(); }

 private:
  modelobject& owner_;
  const std::string& file_;
  std::FILE* out_;
  size_t row_bytes_;
  std::vector<char> buffer_;
  char* end_;
};

void WriteAsciiGrid(modelobject& owner, const std::string& file, double** grid, bool masked,
                    const grid_row_work& work) {
  GridFile out(std::fopen(file.c_str(), "w"));
  if (!out)
    RaiseFatal(owner.messages, "FATAL: error creating " + file + " for writing in text mode.",
               kGridCreateErrorCode);
  if (std::fprintf(out.get(),
                   "ncols\t%d\nnrows\t%d\nxllcorner\t%lf\nyllcorner\t%lf\ncellsize\t%lf\nnodata_value\t%lf\n",
                   owner.ncols, owner.nrows, owner.xllcorner, owner.yllcorner, owner.cellsize,
                   owner.nodata_value) < 0)
    owner.RaiseWriteError(file, kWriteErrorCode);

  text_rows text(owner, file, out.get(), static_cast<size_t>(owner.ncols) * kMaxValueChars + 1);
  // Nodata is written from its text, found by its bits (so that -0 is not 0).
  std::array<char, kMaxValueChars> nodata_text{};
  const size_t nodata_length = static_cast<size_t>(
      FormatGeneral(nodata_text.data(), nodata_text.data() + nodata_text.size(), owner.nodata_value) -
      nodata_text.data());
  const auto nodata_bits = std::bit_cast<std::uint64_t>(owner.nodata_value);
  for (int r = 1; r <= owner.nrows; ++r) {
    if (work.before) work.before(r);
    double* cells = grid[r];
    if (cells && masked) MaskRow(cells, owner.ncols, ValidColumns(owner, r), owner.nodata_value);
    char* p = text.Row();
    char* const end = text.Limit();
    for (int c = 1; c <= owner.ncols; ++c) {
      if (c > 1) *p++ = '\t';
      // A missing row is nodata, as the header says.
      if (!cells || std::bit_cast<std::uint64_t>(cells[c]) == nodata_bits) {
        // The whole block: a row has room for kMaxValueChars a value.
        std::memcpy(p, nodata_text.data(), kMaxValueChars);
        p += nodata_length;
      } else {
        p = FormatGeneral(p, end, cells[c]);
      }
    }
    *p++ = '\n';
    text.Done(p);
    if (work.after) work.after(r);
  }
  text.Flush();
  if (!out.Close()) RaiseFatal(owner.messages, "FATAL: error closing " + file, kWrittenFileCloseErrorCode);
}

template <typename T>
void WriteBinaryGrid(modelobject& owner, const std::string& file, double** grid, bool masked,
                     const grid_row_work& work) {
  GridFile out(std::fopen(file.c_str(), "wb"));
  if (!out)
    RaiseFatal(owner.messages, "FATAL: error creating " + file + " for writing in binary mode.",
               kGridCreateErrorCode);
  owner.binary_header = DomainHeader(owner, 0.0);
  std::vector<unsigned char> scratch;
  if (!WriteLittleEndianValues<T>(out.get(), owner.binary_header.data(), kBinaryHeaderValues, scratch))
    owner.RaiseWriteError(file, kWriteErrorCode);

  owner.ResetStatistics(owner.nodata_value);
  const std::vector<double> nodata_row(static_cast<size_t>(owner.ncols), owner.nodata_value);
  for (int r = 1; r <= owner.nrows; ++r) {
    if (work.before) work.before(r);
    double* cells = grid[r];
    const double* values = nodata_row.data();
    if (cells) {
      if (masked) MaskRow(cells, owner.ncols, ValidColumns(owner, r), owner.nodata_value);
      AddRowToStatistics(owner, cells, r, masked);
      values = cells + 1;
    }
    if (!WriteLittleEndianValues<T>(out.get(), values, static_cast<size_t>(owner.ncols), scratch))
      owner.RaiseWriteError(file, kWriteErrorCode);
    if (work.after) work.after(r);
  }

  // The statistics go over the zeros written in their place.
  double* statistics = owner.binary_header.data() + kBinaryStatisticsIndex;
  owner.GetStatistics(statistics[0], statistics[1], statistics[2], statistics[3], statistics[4],
                      statistics[5]);
  if (std::fseek(out.get(), static_cast<long>(kBinaryStatisticsIndex * sizeof(T)), SEEK_SET) != 0 ||
      !WriteLittleEndianValues<T>(out.get(), statistics, kBinaryStatisticsCount, scratch))
    owner.RaiseWriteError(file, kWriteErrorCode);
  if (!out.Close()) RaiseFatal(owner.messages, "FATAL: error closing " + file, kWrittenFileCloseErrorCode);
}

// The cells of rows 1..nrows, columns 1..ncols of `grid` in the record order
// of netCDF grid files: column by column, each from the northernmost row. A
// missing row gives nodata.
template <typename T>
void ToRecordOrder(const modelobject& owner, double** grid, std::vector<T>& record) {
  const size_t nrows = static_cast<size_t>(owner.nrows);
  record.resize(static_cast<size_t>(owner.ncols) * nrows);
  for (int r = 1; r <= owner.nrows; ++r) {
    const double* cells = grid[r];
    T* out = record.data() + (r - 1);
    for (int c = 1; c <= owner.ncols; ++c, out += nrows)
      *out = static_cast<T>(cells ? cells[c] : owner.nodata_value);
  }
}

// The writer of the owner, with the domain's georeference and, for a file it
// has still to create, the latitudes and longitudes of the domain's cells.
NetcdfGridWriter& PrepareNetcdfWriter(modelobject& owner, const std::string& file) {
  if (!owner.netcdf_writer) owner.netcdf_writer = std::make_unique<NetcdfGridWriter>(owner.messages);
  NetcdfGridWriter& writer = *owner.netcdf_writer;
  writer.SetGeoreference(owner.xllcorner, owner.yllcorner, owner.cellsize);
  if (!owner.grids || writer.HasCreated(file)) return writer;
  const grid_entry& zones = (*owner.grids)[1];
  std::vector<double> values;
  if (zones.has_latitude_grid) {
    if (double** latitudes = (*owner.grids)[zones.latitude_grid_index].data) {
      ToRecordOrder(owner, latitudes, values);
      writer.SetLatitudes(std::move(values));
    }
  }
  if (zones.has_longitude_grid) {
    if (double** longitudes = (*owner.grids)[zones.longitude_grid_index].data) {
      ToRecordOrder(owner, longitudes, values);
      writer.SetLongitudes(std::move(values));
    }
  }
  return writer;
}

// One record per call: a grid, or one level of a stack, in record order.
class NetcdfRecordWriter {
 public:
  NetcdfRecordWriter(modelobject& owner, const std::string& name, bool double_precision)
      : owner_(owner),
        file_(AddNcExtension(name)),
        variable_(VarNameFromPath(name)),
        double_precision_(double_precision),
        writer_(PrepareNetcdfWriter(owner, file_)) {}

  void Write(double** grid) {
    if (double_precision_) {
      ToRecordOrder(owner_, grid, doubles_);
    } else {
      ToRecordOrder(owner_, grid, floats_);
    }
    writer_.WriteRecord(double_precision_, doubles_.data(), floats_.data(), file_, variable_, owner_.nrows,
                        owner_.ncols, owner_.nodata_value, owner_.cellsize);
  }

 private:
  modelobject& owner_;
  std::string file_;
  std::string variable_;
  bool double_precision_;
  NetcdfGridWriter& writer_;
  std::vector<double> doubles_;
  std::vector<float> floats_;
};

// After a failed write of a grid or stack file: a file of its own that the
// write left cut or empty is removed; while the run is being closed the
// failure is noted and the closing goes on, else it ends the run.
void AfterFailedWrite(modelobject& owner, const std::string& name, bool netcdf, ErrorCode code) {
  if (!netcdf) {
    std::string file = name;
    modelobject::PrefixPath(owner.DefaultOutputDirectory.get(), file);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(file, ignored)) std::filesystem::remove(file, ignored);
  }
  OutputFailed(owner.messages, code);
}

void WriteGridFile(modelobject& owner, const std::string& grid_name, double** grid, bool ascii,
                   bool double_precision, bool netcdf, bool masked, const grid_row_work& work) try {
  InterruptGuard no_interrupt;
  std::string file = grid_name;
  modelobject::PrefixPath(owner.DefaultOutputDirectory.get(), file);
  if (netcdf) {
    // netCDF output is never masked; its record takes the whole grid at once.
    auto each_row = [&](const std::function<void(int)>& step) {
      if (step)
        for (int r = 1; r <= owner.nrows; ++r) step(r);
    };
    each_row(work.before);
    NetcdfRecordWriter(owner, file, double_precision).Write(grid);
    each_row(work.after);
  } else if (ascii) {
    WriteAsciiGrid(owner, file, grid, masked, work);
  } else if (double_precision) {
    WriteBinaryGrid<double>(owner, file, grid, masked, work);
  } else {
    WriteBinaryGrid<float>(owner, file, grid, masked, work);
  }
} catch (ErrorCode code) {
  AfterFailedWrite(owner, grid_name, netcdf, code);
}

template <typename T>
void WriteBinaryStackValues(modelobject& owner, const std::string& file, std::FILE* out, double*** stack,
                            int numlevels) {
  const size_t depth = static_cast<size_t>(numlevels) + 1;
  std::vector<double> row(static_cast<size_t>(owner.ncols) * depth);
  std::vector<unsigned char> scratch;
  for (int r = 1; r <= owner.nrows; ++r) {
    if (stack[r]) {
      for (int c = 1; c <= owner.ncols; ++c) std::copy_n(stack[r][c], depth, row.data() + (c - 1) * depth);
    } else {
      std::fill(row.begin(), row.end(), owner.nodata_value);
    }
    if (!WriteLittleEndianValues<T>(out, row.data(), row.size(), scratch))
      owner.RaiseWriteError(file, kWriteErrorCode);
  }
}

void WriteAsciiStackValues(modelobject& owner, const std::string& file, std::FILE* out, double*** stack,
                           int numlevels) {
  const size_t depth = static_cast<size_t>(numlevels) + 1;
  text_rows text(owner, file, out, static_cast<size_t>(owner.ncols) * depth * kMaxValueChars);
  for (int r = 1; r <= owner.nrows; ++r) {
    char* p = text.Row();
    char* const end = text.Limit();
    for (int c = 1; c <= owner.ncols; ++c) {
      for (size_t l = 0; l < depth; ++l) {
        p = FormatGeneral(p, end, stack[r] ? stack[r][c][l] : owner.nodata_value);
        *p++ = '\n';
      }
    }
    text.Done(p);
  }
  text.Flush();
}

}  // namespace

void modelobject::WriteGrid(const std::string& grid_name, double** grid, bool ascii, bool double_precision,
                            bool netcdf) {
  WriteGridFile(*this, grid_name, grid, ascii, double_precision, netcdf, false, {});
}

void modelobject::WriteMaskedGrid(const std::string& grid_name, double** grid, bool ascii,
                                  bool double_precision, bool netcdf) {
  WriteGridFile(*this, grid_name, grid, ascii, double_precision, netcdf, true, {});
}

void modelobject::WriteGridRows(const std::string& grid_name, double** grid, bool ascii,
                                bool double_precision, bool netcdf, bool masked, const grid_row_work& work) {
  WriteGridFile(*this, grid_name, grid, ascii, double_precision, netcdf, masked, work);
}

void modelobject::WriteStack(const std::string& stack_name, double*** stack, int numlevels, bool ascii,
                             bool double_precision, bool netcdf) try {
  InterruptGuard no_interrupt;
  std::string file = stack_name;
  PrefixPath(DefaultOutputDirectory.get(), file);
  if (netcdf) {
    // One record per level, levels 0..numlevels.
    NetcdfRecordWriter writer(*this, file, double_precision);
    std::vector<double*> level_rows(static_cast<size_t>(nrows) + 1, nullptr);
    const size_t stride = static_cast<size_t>(ncols) + 1;
    std::vector<double> level(static_cast<size_t>(nrows) * stride);
    for (int l = 0; l <= numlevels; ++l) {
      for (int r = 1; r <= nrows; ++r) {
        if (!stack[r]) continue;  // a missing row stays missing
        double* cells = level.data() + static_cast<size_t>(r - 1) * stride;
        for (int c = 1; c <= ncols; ++c) cells[c] = stack[r][c][l];
        level_rows[static_cast<size_t>(r)] = cells;
      }
      writer.Write(level_rows.data());
    }
    return;
  }

  const bool binary = !ascii;
  GridFile out(std::fopen(file.c_str(), binary ? "wb" : "w"));
  if (!out) RaiseFatal(messages, "FATAL: error opening " + file, kGridCreateErrorCode);
  binary_header = DomainHeader(*this, static_cast<double>(numlevels));
  if (binary) {
    std::vector<unsigned char> scratch;
    const bool ok =
        double_precision
            ? WriteLittleEndianValues<double>(out.get(), binary_header.data(), kBinaryHeaderValues, scratch)
            : WriteLittleEndianValues<float>(out.get(), binary_header.data(), kBinaryHeaderValues, scratch);
    if (!ok) RaiseWriteError(file, kWriteErrorCode);
    if (double_precision) {
      WriteBinaryStackValues<double>(*this, file, out.get(), stack, numlevels);
    } else {
      WriteBinaryStackValues<float>(*this, file, out.get(), stack, numlevels);
    }
  } else {
    const std::array<double, kBinaryHeaderValues>& h = binary_header;
    if (std::fprintf(
            out.get(),
            "stack_ncols\t%lf\nnrows\t%lf\nxll\t%lf\nyll\t%lf\ncs\t%lf\nnodata\t%lf\ncnt\t%lf\nmin\t%lf\n"
            "max\t%lf\nsum\t%lf\naverage\t%lf\nnumlevels\t%lf\n",
            h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8], h[9], h[10], h[11]) < 0)
      RaiseWriteError(file, kWriteErrorCode);
    WriteAsciiStackValues(*this, file, out.get(), stack, numlevels);
  }
  if (!out.Close()) RaiseFatal(messages, "FATAL: error closing " + file, kWrittenFileCloseErrorCode);
} catch (ErrorCode code) {
  AfterFailedWrite(*this, stack_name, netcdf, code);
}

}  // namespace velmo
