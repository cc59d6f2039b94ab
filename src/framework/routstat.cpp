// Discharge statistics tables: subbasin rows and the efficiency block.
#include "framework/routstat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "framework/diagnostics.h"
#include "framework/interrupt.h"

namespace velmo {
namespace {

// Fewer pairs than this give no variance.
constexpr double kMinimumCount = 3.0;
// An observed variance at or below this share of the mean square is rounding
// noise of constant observations.
constexpr double kRelativeVarianceFloor = 1e-12;
constexpr const char* kBlockSeparator = "----------------------\n";

std::string Formatted(const char* format, double value) {
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  return std::string(buffer, static_cast<size_t>(std::clamp(length, 0, static_cast<int>(sizeof buffer) - 1)));
}

// Sample variance of the observations, or a value <= 0 when there is none.
double ObservedVariance(const comparison_record& r) {
  const double n = r[kObservedCount];
  if (n < kMinimumCount) return 0.0;
  const double variance = (r[kSquaredObservedSum] - r[kObservedSum] * r[kObservedSum] / n) / (n - 1.0);
  return variance > kRelativeVarianceFloor * r[kSquaredObservedSum] / n ? variance : 0.0;
}

// 1 - error / variance; a perfect fit (error 0) is 1.
double Efficiency(const comparison_record& r, double error) {
  if (r[kPairCount] < kMinimumCount) return kNoEfficiency;
  const double variance = ObservedVariance(r);
  if (!(variance > 0.0)) return kNoEfficiency;
  return error == 0.0 ? 1.0 : 1.0 - error / variance;
}

}  // namespace

double EfficiencyFromSums(const comparison_record& r) {
  if (r[kPairCount] < kMinimumCount) return kNoEfficiency;
  return Efficiency(r, r[kSquaredErrorSum] / (r[kPairCount] - 1.0));
}

double BiasFreeEfficiencyFromSums(const comparison_record& r) {
  const double n = r[kPairCount];
  if (n < kMinimumCount) return kNoEfficiency;
  return Efficiency(r, (r[kSquaredErrorSum] - r[kErrorSum] * r[kErrorSum] / n) / (n - 1.0));
}

routstatistic::routstatistic(int& error_code, MessageStream* messages_, zone_record* zones_, int zone_count_,
                             int statistics_code, std::string& file_name_,
                             const std::string* output_directory, int selected_count_,
                             const int* selected_codes_, bool with_minutes_, const double* column_values)
    : zonalstatistic(error_code, messages_, std::numeric_limits<double>::quiet_NaN(), nullptr, 1, 1, zones_,
                     zone_count_, statistics_code, kDischargePrecision, file_name_, output_directory,
                     selected_count_, selected_codes_, with_minutes_),
      column_values_(column_values) {
  if (error_code == 0 && type >= 0) columns_ = ColumnZones();
}

void routstatistic::WriteHeader(const std::string& name, const std::string& title) {
  if (type < 0) return;
  std::string text = with_minutes ? "YY\tMM\tDD\tHH\tmm" : "YY\tMM\tDD\tHH";
  // A column is the whole code its cells belong to, as in the zone tables.
  for (int z : columns_) text += "\t\"" + Formatted("%.0lf", std::trunc(zones[z].code) + 0.0) + '"';
  text += "\n";
  text.append(name).append("_submodel:").append(title).append("\n");
  text += with_minutes ? "--\t--\t--\t--\t--" : "--\t--\t--\t--";
  for (int z : columns_) text += "\t" + Formatted("%.7lf", column_values_ ? column_values_[z] : 0.0);
  text += "\n";

  InterruptGuard guard;
  OpenFile("w");
  std::fwrite(text.data(), 1, text.size(), file);
  CloseFile();
}

void routstatistic::EndStepDischarge(int year, int month, int day, int hour, int minute) {
  if (type < 0) return;
  const bool carries = interval > 1;
  if (carries) {
    // Averaging types carry all sums; summing types add the values only.
    for (int z = 1; z <= zone_count; ++z) {
      const size_t i = static_cast<size_t>(z);
      zones[z].value_sum += carried_value[i];
      if (Averages()) {
        zones[z].weight_sum += carried_weight[i];
        zones[z].mean_divisor += carried_divisor[i];
      }
    }
  }
  if (step_counter != interval) {
    if (carries) {
      for (int z = 0; z <= zone_count; ++z) {
        const size_t i = static_cast<size_t>(z);
        carried_weight[i] = zones[z].weight_sum;
        carried_value[i] = zones[z].value_sum;
        carried_divisor[i] = zones[z].mean_divisor;
      }
    }
    return;
  }

  double* values = NextRow(model_date{minute, hour, day, month, year});
  value_count = 0;
  for (int z : columns_) {
    const zone_record& record = zones[z];
    values[value_count++] =
        record.weight_sum > 0.0 && record.mean_divisor > 0.0 ? record.value_sum / record.mean_divisor : 0.0;
  }
  if (carries) {
    std::fill(carried_weight.begin(), carried_weight.end(), 0.0);
    std::fill(carried_value.begin(), carried_value.end(), 0.0);
    std::fill(carried_divisor.begin(), carried_divisor.end(), 0.0);
  }
  step_counter = 0;
  if (row_count >= row_capacity) FlushRows();
}

void routstatistic::WriteEfficiency(const comparison_sums& linear, const comparison_sums& logarithmic) {
  if (type < 0) return;
  FlushRows();
  const int decimals = precision - 1;

  std::string text = kBlockSeparator;
  auto block = [&](const comparison_sums& sums, const char* label, const char* zero_label,
                   double (*efficiency)(const comparison_record&)) {
    for (int row = 0; row < kShiftRows; ++row) {
      const int shift = row - kLargestShift;
      text += shift == 0 ? zero_label : label;
      text += "\t" + std::to_string(shift);
      for (int z : columns_) {
        char buffer[64];
        const int n = std::snprintf(buffer, sizeof buffer, "\t%.*lf", decimals, efficiency(sums.at(row, z)));
        text.append(buffer, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1)));
      }
      text += "\n";
    }
    text += kBlockSeparator;
  };
  block(linear, "lin. R-square", "LIN. R-SQUARE", EfficiencyFromSums);
  block(logarithmic, "log. R-square", "LOG. R-SQUARE", EfficiencyFromSums);
  block(linear, "coeff.var.lin", "COEFF.VAR.LIN", BiasFreeEfficiencyFromSums);
  block(logarithmic, "coeff.var.log", "COEFF.VAR.LOG", BiasFreeEfficiencyFromSums);
  // The bias-free efficiency at shift 0 stays in the zone records.
  for (int z : columns_) {
    zones[z].value_sum = BiasFreeEfficiencyFromSums(linear.at(kLargestShift, z));
    zones[z].weight_sum = 1.0;
  }

  WriteOutputFile(messages, [&] {
    InterruptGuard guard;
    OpenFile("a");
    std::fwrite(text.data(), 1, text.size(), file);
    CloseFile();
  });
}

}  // namespace velmo
