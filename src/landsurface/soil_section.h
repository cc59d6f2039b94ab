// The sections of the soil and infiltration models as plain parameter
// structs, and their readers. The readers take the values positionally from
// a section reader on the module's open control file, so that an unreadable
// value names its prompt (code 17), and check each value as it is read.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "setup/output_settings.h"

namespace velmo {

class section_reader;

// Codes of the section readers.
inline constexpr int kParameterRowErrorCode = 10;    // code row or a parameter row cannot be used
inline constexpr int kNonPositiveParameterCode = 1;  // m or Tkorr not above 0

// The statistics tables of the soil model, in the order of the section.
enum soil_table_kind : int {
  kDirectRunoffTable,     // QD
  kInterflowTable,        // QI (with QB and QBB)
  kBaseflowTable,         // QB (with QBB)
  kDelayedBaseflowTable,  // QBB, method 2 only
  kTotalRunoffTable,
  kSoilStorageTable,     // SB
  kDrainageTable,        // SUZ
  kInterflowStoreTable,  // SIF
  kDeficitTable,         // SD
  kSoilTableKinds
};

// Delayed baseflow is on with this method.
inline constexpr int kDelayedBaseflowMethod = 2;

// "[soil_model]" after its flow control parameter and time interval.
struct soil_section {
  int method = 1;
  output_grid saturation_deficit;
  output_grid drainage_storage;   // "unsaturated_zone_storage"
  output_grid interflow_storage;  // "interflow_storage"
  output_grid inactive_moisture;  // "inaktive_soil_moisture"
  output_grid inactive_capacity;  // "inaktive_field_capacity"
  output_grid saturated_partition;
  output_grid directflow;
  output_grid interflow;
  std::string peakflow_file;
  std::array<statistics_file, kSoilTableKinds> tables;
  int read_mode = 0;  // of the stored state
  std::string storage_file;
};

// The parameters of one subbasin, converted for the model's time step.
struct subbasin_parameters {
  double m = 0.0;          // recession parameter, mm (read in m)
  double Tkorr = 0.0;      // transmissivity scaling of the saturated zone
  double Kkorr = 0.0;      // conductivity scaling of the drainage
  double k_ELS_QD = 0.0;   // storage constant of the direct runoff, minutes (read in hours)
  double SHmax = 0.0;      // interflow storage capacity, mm
  double k_ELS_QI = 0.0;   // interflow recession factor exp(-dt/k) (k read in hours)
  double k_ELS_QBB = 0.0;  // storage constant of the delayed baseflow, minutes (read in hours)
  double alpha = 0.0;      // delayed-baseflow recharge at saturation, mm per step (read per hour)
  double QBBini = 0.0;     // initial delayed baseflow (not used: it starts at 0)
  double SUZini = 0.0;     // initial interflow storage, mm
  double SDini = 0.0;      // initial saturation deficit as a share of the root zone's capacity
  double Pgrenz = 0.0;     // macropore threshold, mm per step (read per hour)
  double Rrueck = 0.0;     // reinfiltrating share
  double QDsnow = 0.0;     // surface-runoff share of snowmelt
};

// Name of each parameter row, in reading order.
inline constexpr int kParameterRowCount = 14;
inline constexpr std::array<const char*, kParameterRowCount> kParameterRowNames = {
    "m",     "Tkorr",  "Kkorr",  "k_ELS_QD", "SHmax",  "k_ELS_QI", "k_ELS_QBB",
    "alpha", "QBBini", "SUZini", "SDini",    "Pgrenz", "Rrueck",   "QDsnow"};

// Converts one value of parameter row `row` (0..13) as read for time step dt.
double ConvertParameter(int row, double value, double dt);
// The field of parameter row `row`.
double& ParameterField(subbasin_parameters& p, int row);

// Reads values 1 to 27 of "[soil_model]" after its head.
soil_section ReadSoilSectionValues(section_reader& in);
// Reads the code row and the 14 parameter rows for the subbasins 1..n of the
// ranked zone table (`zone_codes`[i] the code of subbasin i, `code_map` the
// codes 0..largest to indices), converted for time step dt; element 0 holds
// nothing. Fatal: an unreadable or unknown code or value (10, naming a token
// that is no number), m or Tkorr not above 0 (1).
std::vector<subbasin_parameters> ReadSubbasinParameters(section_reader& in,
                                                        const std::vector<int>& zone_codes,
                                                        const int* code_map, int largest_code, double dt);
// Reads values 29 and 30 (read mode and state file name).
void ReadStateSettings(section_reader& in, soil_section& section);

// "[infiltration_model]".
struct infiltration_section {
  int switch_value = 0;        // 1 runs the infiltration; 0 off; other values read the section only
  double time_interval = 0.0;  // minutes
  output_grid excess;          // "infiltration_excess"
  output_grid saturation;      // "infiltration_saturation"
  statistics_file table;
  double macropore_fraction = 0.0;  // P, 0..1
};
// Reads value 1 and, when it is not 0, values 2 to 8 with a reader opened at
// the section. A macropore fraction outside 0..1 is a control-file error
// (17).
infiltration_section ReadInfiltrationSection(section_reader& in);

}  // namespace velmo
