// The interpolator's elevation regression: the regression file of methods 2
// and 3, the fit of methods 10 and 11, the value at a cell, and the access
// of the precipitation correction.
#include "framework/diagnostics.h"
#include "meteo/meteoint.h"
#include "meteo/station_files.h"

namespace velmo {
namespace {

bool HasRegression(int method) {
  return method == kRegressionMethod || method == kIdwRegressionMethod ||
         method == kStationRegressionMethod || method == kIdwStationRegressionMethod;
}

std::string HourText(const model_date& d) {
  return std::to_string(d.day) + "." + std::to_string(d.month) + "." + std::to_string(d.year) + " " +
         std::to_string(d.hour) + " h";
}

}  // namespace

void meteointerpol::PositionRegressionFile() {
  FindRegressionStart(0);
  // Method 2 has no station file: its records set the date.
  if (section.method == kRegressionMethod) record_date = regression_input->Current().date;
}

void meteointerpol::FindRegressionStart(int) {
  regression_input = std::make_unique<regression_file>(messages, section.regression_file, section.nodata);
  regression_input->FindStart(start_date, name);
  regression = RegressionFromRecord(regression_input->Current().values);
}

void meteointerpol::NextRegressionRecord(int) {
  if (!regression_input->Next()) {
    end_of_data = 1;
    return;
  }
  regression = RegressionFromRecord(regression_input->Current().values);
  if (section.method == kRegressionMethod) record_date = regression_input->Current().date;
}

void meteointerpol::AdvanceRegressionFile() {
  const model_date station_date = record_date;
  if (section.method == kRegressionMethod && AtOrAfter(record_date, end_date)) {
    end_of_data = 1;
    return;
  }
  NextRegressionRecord(0);
  if (end_of_data != 0 || section.method != kIdwRegressionMethod) return;
  const model_date& d = regression_input->Current().date;
  if (d.hour == station_date.hour && d.day == station_date.day && d.month == station_date.month &&
      d.year == station_date.year)
    return;
  RaiseFatal(messages,
             "FATAL: -----------------------------------------------------------------------------\nerror in "
             "date column of " +
                 name + " for IDW*Regress \n\nDate from station/regress file " + files[0].name + ":\n" +
                 HourText(station_date) + "\n\nbut date from regres file " + regression_input->FileName() +
                 ":\n" + HourText(d) +
                 "\n\n-----------------------------------------------------------------------------\n",
             kStepDateCode);
}

double meteointerpol::RegressionValue(int, int, double x, double y, double z) {
  return velmo::RegressionValue(regression, section.nodata, nodata_value, x, y, z);
}

void meteointerpol::ComputeStationRegression(int) {
  if (section.method != kStationRegressionMethod && section.method != kIdwStationRegressionMethod) return;
  const station_file& file = files[0];
  const regression_stations stations{file.values.data(), file.altitude.data(), file.x.data(), file.y.data(),
                                     file.count};
  regression_fit_parameters p;
  p.lower_inversion = section.lower_inversion;
  p.upper_inversion = section.upper_inversion;
  p.tolerance = section.tolerance;
  p.overlap = section.overlap;
  p.cluster_range = section.cluster_range;
  p.upper_lapse_rate = section.regression_upper_lapse_rate;
  regression = velmo::ComputeStationRegression(stations, p, section.nodata);
}

void meteointerpol::GetRegression(int index, double& h1, double& h2, std::array<double, 4>& a,
                                  std::array<double, 4>& b) const {
  if (index != kRegressionIndex || !HasRegression(section.method)) {
    const double missing = MissingResult(section.nodata);
    h1 = h2 = missing;
    a.fill(missing);
    b.fill(missing);
    return;
  }
  h1 = regression.h1;
  h2 = regression.h2;
  a = regression.a;
  b = regression.b;
}

void meteointerpol::SetRegression(int index, const std::array<double, 4>& a, const std::array<double, 4>& b,
                                  double h2) {
  if (index != kRegressionIndex) return;
  regression.a = a;
  regression.b = b;
  regression.h2 = h2;
}

}  // namespace velmo
