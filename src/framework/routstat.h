// Discharge statistics tables: a zone statistics table with one column per
// subbasin outlet and no catchment column, a value per subbasin (its area
// fraction) in the third header line, and at the end of the run an
// efficiency block that compares simulated with observed discharge for time
// shifts of -10 to +10 steps.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/zonalstat.h"

namespace velmo {

// The six sums of one comparison of simulated with observed values.
enum comparison_sum {
  kPairCount = 0,  // pairs in the error sums
  kErrorSum = 1,   // sum of simulated - observed
  kSquaredErrorSum = 2,
  kObservedCount = 3,  // observations in the observation sums
  kObservedSum = 4,
  kSquaredObservedSum = 5,
};
using comparison_record = std::array<double, 6>;

// Shifts of the observed against the simulated series, -10..10 steps.
inline constexpr int kLargestShift = 10;
inline constexpr int kShiftRows = 2 * kLargestShift + 1;
// Efficiency of a subbasin with too few pairs or observations without spread.
inline constexpr double kNoEfficiency = -9999.0;
// Decimals of the discharge rows.
inline constexpr int kDischargePrecision = 5;

// Comparison sums of every subbasin for every shift: row 0 is the shift -10,
// row 20 the shift +10; zones are indexed 0..zone_count.
class comparison_sums {
 public:
  explicit comparison_sums(int zone_count)
      : zone_count_(zone_count), records_(static_cast<size_t>(kShiftRows) * (zone_count + 1)) {}
  comparison_record& at(int shift_row, int zone) {
    return records_[static_cast<size_t>(shift_row) * (zone_count_ + 1) + zone];
  }
  const comparison_record& at(int shift_row, int zone) const {
    return records_[static_cast<size_t>(shift_row) * (zone_count_ + 1) + zone];
  }
  int zone_count() const { return zone_count_; }

 private:
  int zone_count_;
  std::vector<comparison_record> records_;
};

// 1 - (mean squared error) / (variance of the observations), the
// Nash-Sutcliffe efficiency formed from the sums.
double EfficiencyFromSums(const comparison_record& sums);
// 1 - (variance of the errors) / (variance of the observations): the same
// without the mean bias.
double BiasFreeEfficiencyFromSums(const comparison_record& sums);

class routstatistic : public zonalstatistic {
 public:
  // As zonalstatistic (no cell weights, precision 5); `column_values`
  // (indexed by zone, borrowed) are written under the columns in the third
  // header line. Every value added counts, whatever its size.
  routstatistic(int& error_code, MessageStream* messages, zone_record* zones, int zone_count,
                int statistics_code, std::string& file_name, const std::string* output_directory,
                int selected_count, const int* selected_codes, bool with_minutes,
                const double* column_values);

  // Header without the catchment column: codes, "<name>_submodel:<title>",
  // and the column values.
  void WriteHeader(const std::string& name, const std::string& title) override;
  // Appends the efficiency block: for every shift the Nash-Sutcliffe
  // efficiency of the linear and of the logarithmic sums, then their
  // bias-free forms; shift 0 in capitals.
  virtual void WriteEfficiency(const comparison_sums& linear, const comparison_sums& logarithmic);
  // Ends a step: at the end of the interval the row of the subbasin values
  // (means, or sums for the summing types) is buffered.
  virtual void EndStepDischarge(int year, int month, int day, int hour, int minute);
  // One discharge of subbasin `zone` in the current step.
  void AddDischarge(int zone, double value) { AddCell(0, 0, zone, value, 1.0); }

 private:
  const double* column_values_ = nullptr;
  std::vector<int> columns_;  // zone indices of the columns
};

}  // namespace velmo
