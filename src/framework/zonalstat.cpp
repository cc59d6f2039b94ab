// Zone statistics tables: zone and catchment means per interval, buffered
// and appended to their files in blocks.
#include "framework/zonalstat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>

#include "framework/diagnostics.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"

namespace velmo {
namespace {

// Room for the longest fixed-point value ("%.98f" of the largest double).
constexpr int kValueChars = 512;
// Formatted rows are handed to the file in pieces of about this size.
constexpr size_t kWriteChunkBytes = 1 << 16;

void AppendWidth2(std::string& out, long value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  const size_t length = static_cast<size_t>(result.ptr - buffer);
  if (length < 2) out.append(2 - length, ' ');
  out.append(buffer, length);
}

// "\t%.*f", or "\t%.6g" from kGeneralFormatPrecision on. std::to_chars gives
// the same characters as printf in the C locale, without its parsing cost.
void AppendValue(std::string& out, double value, int precision) {
  char buffer[kValueChars];
  const bool general = precision >= kGeneralFormatPrecision;
  const int decimals = general ? 6 : (precision < 0 ? 6 : precision);
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value,
                    general ? std::chars_format::general : std::chars_format::fixed, decimals);
  out += '\t';
  if (result.ec == std::errc()) {
    out.append(buffer, static_cast<size_t>(result.ptr - buffer));
  } else {
    const int length = std::snprintf(buffer, sizeof buffer, general ? "%.*g" : "%.*f", decimals, value);
    out.append(buffer, static_cast<size_t>(std::clamp(length, 0, kValueChars - 1)));
  }
}

std::string Formatted(const char* format, double value) {
  char buffer[kValueChars];
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  return std::string(buffer, static_cast<size_t>(std::clamp(length, 0, kValueChars - 1)));
}

// Empties the step sums of records 0..zone_count.
void ClearSums(zone_record* zones, int zone_count) {
  for (int z = 0; z <= zone_count; ++z) {
    zones[z].weight_sum = 0.0;
    zones[z].value_sum = 0.0;
    zones[z].mean_divisor = 0.0;
  }
}

}  // namespace

int RowCapacity(int type, int zone_count, int selected_count) {
  long rows = 0;
  if (type == 1 || type == 3) {
    rows = kTotalOnlyRows;
  } else if (type == 2 || type == 4) {
    rows = kRowBufferBytes / (static_cast<long>(zone_count) * 8 + kRowDateBytes);
  } else {
    rows = kRowBufferBytes / (static_cast<long>(selected_count) * 8 + kRowDateBytes);
  }
  return static_cast<int>(std::max(rows, 1L));
}

void FormatRow(const model_date& date, const double* values, int value_count, bool with_minutes,
               int precision, std::string& out) {
  AppendWidth2(out, date.year);
  out += '\t';
  AppendWidth2(out, date.month);
  out += '\t';
  AppendWidth2(out, date.day);
  out += '\t';
  AppendWidth2(out, date.hour);
  if (with_minutes) {
    out += '\t';
    AppendWidth2(out, date.minute);
  }
  for (int i = 0; i < value_count; ++i) AppendValue(out, values[i], precision);
  out += '\n';
}

zonalstatistic::zonalstatistic(int& error_code, MessageStream* messages_, double nodata_value_,
                               double** cell_weights_, int nrows_, int ncols_, zone_record* zones_,
                               int zone_count_, int statistics_code, int precision_, std::string& file_name_,
                               const std::string* output_directory, int selected_count_,
                               const int* selected_codes_, bool with_minutes_)
    : with_minutes(with_minutes_), messages(messages_) {
  error_code = 0;
  if (statistics_code < kFirstStatisticsCode) {
    type = -1;
    ready = 1;
    return;
  }
  try {
    zones = zones_;
    cell_weights = cell_weights_;
    nrows = nrows_;
    ncols = ncols_;
    nodata_value = nodata_value_;
    zone_count = std::max(zone_count_, 0);
    precision = precision_;
    const int code_type = statistics_code / 1000;
    interval = statistics_code % 1000;
    selected_count = selected_codes_ ? std::clamp(selected_count_, 0, zone_count) : 0;
    selected_codes.assign(selected_codes_ ? selected_codes_ : nullptr,
                          selected_codes_ ? selected_codes_ + selected_count + 1 : nullptr);

    modelobject::PrefixPath(output_directory, file_name_);
    file_name = file_name_;

    // The output list is ascending like the zones, so listed code i lies at
    // zone index i or above.
    selected_index.assign(static_cast<size_t>(selected_count) + 1, 0);
    for (int i = 1; i <= selected_count; ++i) {
      const int code = selected_codes[static_cast<size_t>(i)];
      int found = 0;
      for (int z = i; z <= zone_count && found == 0; ++z) {
        if (static_cast<int>(zones[z].code) == code) found = z;
      }
      if (found == 0) {
        if (messages) {
          *messages
              << "\n\n ------ error ------\n\n there is a code in the output list which no zone exists for ("
              << code << ")"
              << "[end-entry]";
        }
        error_code = kConstructionErrorCode;
        return;
      }
      selected_index[static_cast<size_t>(i)] = found;
    }

    try {
      row_capacity = RowCapacity(code_type, zone_count, selected_count);
      // The zone (or listed) columns and the catchment column.
      row_width = (code_type == 1 || code_type == 3)   ? 1
                  : (code_type == 2 || code_type == 4) ? zone_count + 1
                                                       : selected_count + 1;
      step_means.assign(static_cast<size_t>(zone_count) + 1, 0.0);
      if (interval > 1) {
        carried_weight.assign(static_cast<size_t>(zone_count) + 1, 0.0);
        carried_value.assign(static_cast<size_t>(zone_count) + 1, 0.0);
        carried_divisor.assign(static_cast<size_t>(zone_count) + 1, 0.0);
      }
    } catch (const std::bad_alloc&) {
      row_dates = {};
      row_values = {};
      if (messages)
        *messages << "FATAL: memory allocation error in " << file_name << " (rows of the statistics table)"
                  << "[end-entry]";
      error_code = kMemoryErrorCode;
      return;
    }
    ClearSums(zones, zone_count);
    type = code_type;
    ready = 1;
  } catch (...) {
    type = -1;
    error_code = kConstructionErrorCode;
  }
}

zonalstatistic::~zonalstatistic() {
  if (file) std::fclose(file);
}

void zonalstatistic::OpenFile(const char* mode) {
  if (file) CloseFile();
  file = std::fopen(file_name.c_str(), mode);
  if (!file) RaiseFatal(messages, "FATAL: error opening \n" + file_name, kOpenErrorCode);
  std::setvbuf(file, nullptr, _IOFBF, kWriteChunkBytes);
}

void zonalstatistic::CloseFile() {
  if (!file) return;
  // A failed write shows only here: report it with the close.
  bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0) failed = true;
  file = nullptr;
  if (failed) RaiseFatal(messages, "FATAL: cannot close " + file_name, kCloseErrorCode);
}

std::vector<int> zonalstatistic::ColumnZones() const {
  std::vector<int> columns;
  if (HasZoneColumns()) {
    for (int z = 1; z <= zone_count; ++z) columns.push_back(z);
  } else if (HasListedColumns()) {
    columns.assign(selected_index.begin() + 1, selected_index.end());
  }
  return columns;
}

void zonalstatistic::WriteHeader(const std::string& name, const std::string& title) {
  if (type < 0) return;
  const std::vector<int> columns = ColumnZones();
  std::string text = with_minutes ? "YY\tMM\tDD\tHH\tmm" : "YY\tMM\tDD\tHH";
  for (int z : columns) {
    text += "\t\"";
    // The column is the code its cells belong to: a cell of 2.7 is zone 2.
    // Adding 0 turns the -0 of a cell in (-1, 0) into 0.
    text += Formatted("%.0lf", std::trunc(zones[z].code) + 0.0);
    text += '"';
  }
  text += "\ttot_average\n";
  text.append(name).append("_submodel:").append(title).append("\n");
  text += with_minutes ? "--\t--\t--\t--\t--" : "--\t--\t--\t--";
  for (int z : columns) {
    text += '\t';
    text += Formatted("%.7lf", zones[z].area_fraction);
  }
  text += "\t1.0000\n";

  InterruptGuard guard;
  OpenFile("w");
  std::fwrite(text.data(), 1, text.size(), file);
  CloseFile();
}

void zonalstatistic::StartStep() {
  if (type < 0) return;
  ++step_counter;
  ClearSums(zones, zone_count);
}

double zonalstatistic::StepMean(double weight_sum, double value_sum, double mean_divisor) {
  // Cells held data but weigh nothing: 0 rather than a division by 0.
  return weight_sum > 0.0 && mean_divisor > 0.0 ? value_sum / mean_divisor : 0.0;
}

double zonalstatistic::IntervalValue(double mean, double weight_sum, int record) {
  if (interval > 1 && !Averages()) {
    // Summing types add the step means themselves, so a step whose cells
    // are partly missing still adds its own mean; the weights tell whether
    // any step of the interval held data.
    const size_t z = static_cast<size_t>(record);
    mean += carried_value[z];
    carried_value[z] = mean;
    weight_sum += carried_weight[z];
    carried_weight[z] = weight_sum;
  }
  // No data in the interval: 0 would look like a measured value.
  return weight_sum > 0.0 ? mean : nodata_value;
}

int zonalstatistic::EndStep(int year, int month, int day, int hour, int minute, int /*flag*/) {
  if (type < 0) return 0;
  const bool carries = interval > 1;
  const bool averages = Averages();
  if (carries && averages) {
    for (int z = 1; z <= zone_count; ++z) {
      zones[z].weight_sum += carried_weight[static_cast<size_t>(z)];
      zones[z].value_sum += carried_value[static_cast<size_t>(z)];
      zones[z].mean_divisor += carried_divisor[static_cast<size_t>(z)];
    }
  }

  // The catchment is made of the zones, so its sums (and record 0) are formed
  // afresh each step from zones that already hold the carried sums.
  double total_weight = 0.0;
  double total_value = 0.0;
  double total_divisor = 0.0;
  for (int z = 1; z <= zone_count; ++z) {
    const zone_record& record = zones[z];
    step_means[static_cast<size_t>(z)] = IntervalValue(
        StepMean(record.weight_sum, record.value_sum, record.mean_divisor), record.weight_sum, z);
    total_weight += record.weight_sum;
    total_value += record.value_sum;
    total_divisor += record.mean_divisor;
  }
  const double catchment = IntervalValue(StepMean(total_weight, total_value, total_divisor), total_weight, 0);
  if (carries && averages) {
    for (int z = 1; z <= zone_count; ++z) {
      carried_weight[static_cast<size_t>(z)] = zones[z].weight_sum;
      carried_value[static_cast<size_t>(z)] = zones[z].value_sum;
      carried_divisor[static_cast<size_t>(z)] = zones[z].mean_divisor;
    }
  }
  zones[0].weight_sum = total_weight;
  zones[0].value_sum = total_value;
  zones[0].mean_divisor = total_divisor;

  if (step_counter != interval) return 0;
  double* values = NextRow(model_date{minute, hour, day, month, year});
  value_count = 0;
  if (HasZoneColumns()) {
    for (int z = 1; z <= zone_count; ++z) values[value_count++] = step_means[static_cast<size_t>(z)];
  } else if (HasListedColumns()) {
    for (int i = 1; i <= selected_count; ++i) {
      values[value_count++] = step_means[static_cast<size_t>(selected_index[static_cast<size_t>(i)])];
    }
  }
  values[value_count++] = catchment;
  if (carries) {
    std::fill(carried_weight.begin(), carried_weight.end(), 0.0);
    std::fill(carried_value.begin(), carried_value.end(), 0.0);
    std::fill(carried_divisor.begin(), carried_divisor.end(), 0.0);
  }
  step_counter = 0;
  if (row_count >= row_capacity) FlushRows();
  return 1;
}

double* zonalstatistic::NextRow(const model_date& date) {
  // Only reached when an earlier write of the full buffer failed.
  if (row_count >= row_capacity) FlushRows();
  const auto row = static_cast<size_t>(row_count);
  if (row >= row_dates.size()) {
    constexpr size_t kFirstRows = 16;
    const size_t rows =
        std::min(std::max(2 * row_dates.size(), kFirstRows), static_cast<size_t>(row_capacity));
    row_dates.resize(rows);
    row_values.resize(rows * static_cast<size_t>(row_width));
  }
  row_dates[row] = date;
  ++row_count;
  return row_values.data() + row * static_cast<size_t>(row_width);
}

void zonalstatistic::FlushRows() {
  if (type < 0 || row_count == 0) return;
  WriteOutputFile(messages, [this] { AppendRows(); });
}

void zonalstatistic::AppendRows() {
  InterruptGuard guard;
  OpenFile("a");
  std::string text;
  text.reserve(kWriteChunkBytes + kValueChars);
  for (int r = 0; r < row_count; ++r) {
    FormatRow(row_dates[static_cast<size_t>(r)],
              row_values.data() + static_cast<size_t>(r) * static_cast<size_t>(row_width), value_count,
              with_minutes, precision, text);
    if (text.size() >= kWriteChunkBytes) {
      std::fwrite(text.data(), 1, text.size(), file);
      text.clear();
    }
  }
  std::fwrite(text.data(), 1, text.size(), file);
  const long bytes = static_cast<long>(value_count + 2) * row_count * 8;
  // The rows are handed over: a failing close must not make a later flush
  // append them a second time.
  row_count = 0;
  value_count = 0;
  CloseFile();
  if (messages) {
    *messages << "write " << file_name << "(" << bytes << " of " << kRowBufferBytes << " buffer-bytes)"
              << "[end-entry]";
  }
}

void zonalstatistic::CleanUp() {
  if (type < 0) return;
  if (ready) FlushRows();
  type = -1;
  row_dates = {};
  row_values = {};
  selected_index = {};
  carried_weight = {};
  carried_value = {};
  carried_divisor = {};
  step_means = {};
}

}  // namespace velmo
