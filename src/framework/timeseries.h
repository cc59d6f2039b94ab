// Block-buffered reader of dated tables (observed discharge, inflows,
// abstraction inputs): header lines, then one row per step with year, month,
// day, hour (and minute when a header line declares it) and any number of
// value columns. Only one block of rows, sized from a byte budget, is held in
// memory; the file is closed between two blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/zonalstat.h"

namespace velmo {

// States of a reader.
inline constexpr int kSeriesNotOpened = 0;   // default-constructed
inline constexpr int kSeriesMoreRows = 1;    // a block is loaded and the file holds more rows
inline constexpr int kSeriesLastBlock = 2;   // the loaded block ends with the file's last row
inline constexpr int kSeriesCannotOpen = 3;  // the file cannot be opened
inline constexpr int kSeriesPastEnd = 4;     // Advance went past the last row of the file
inline constexpr int kSeriesReadError = 5;   // no data row, or a date or value that cannot be read

// Thrown by Open when the position of the first data row cannot be taken.
inline constexpr int kSeriesPositionErrorCode = 202;

// Value of a column the table does not have.
inline constexpr double kSeriesMissingValue = -9999.0;

// Whether a header line declares a minute column: it holds "YY", "MM", "DD"
// and "HH", and after four runs of the letters Y, M, D, H (each with the
// blanks and tabs after it) comes "mm" followed by a blank or tab.
bool DeclaresMinuteColumn(const std::string& line);

class TimeSeriesReader {
 public:
  TimeSeriesReader() = default;
  // Opens the table at once; `unused` is kept for the callers' sake only.
  TimeSeriesReader(const std::string& file_name, int unused, long budget_bytes);

  // Reads the header and the layout of the first data row, allocates the
  // block for `budget_bytes` and loads the first block. Does nothing unless
  // the reader is unopened. Returns the number of header lines, or the state
  // 3 or 5 it has set; callers test GetState().
  int Open(const std::string& file_name, long budget_bytes);
  // Loads the next block (state 1 only); the first row of it becomes current.
  void LoadBlock();
  // Moves to the next row, loading the next block at the end of this one.
  // Past the last row of the file the state becomes 4.
  void Advance();
  // Current row -1 (before the first, so that Advance makes row 0 current) up
  // to the last row of the block; other indices are ignored.
  void SetRow(int row);

  // Date of the current row as read (minute 0 without a minute column).
  void GetDate(int& year, int& month, int& day, int& hour, int& minute) const;
  // Value of column `column` (from 0) of the current row; -9999 outside the
  // columns or without a current row.
  double GetValue(int column) const;

  int GetRowIndex() const { return current_row_; }
  int GetBlockRows() const { return block_rows_; }
  int GetRowCapacity() const { return row_capacity_; }
  int GetColumnCount() const { return column_count_; }
  bool HasMinuteColumn() const { return with_minutes_; }
  std::string GetFileName() const { return file_name_; }
  int GetState() const { return state_; }

  // Frees the rows; the reader stays.
  void FreeBuffers();

 private:
  bool HasCurrentRow() const { return current_row_ >= 0 && current_row_ < block_rows_; }

  std::string file_name_;
  std::vector<dated_row> rows_;  // the block, row_capacity_ records
  long budget_bytes_ = 0;
  int current_row_ = -1;
  int block_rows_ = 0;
  int row_capacity_ = 0;
  int column_count_ = 0;
  bool with_minutes_ = false;
  std::int64_t next_position_ = 0;  // byte offset where the next block starts
  int state_ = kSeriesNotOpened;
};

}  // namespace velmo
