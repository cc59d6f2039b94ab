// Reading "[soil_model]" with its parameter rows and "[infiltration_model]" into plain structs.
#include "landsurface/soil_section.h"

#include <charconv>
#include <cstdio>

#include "framework/diagnostics.h"
#include "framework/modelobject.h"
#include "landsurface/soil_processes.h"

namespace velmo {
namespace {

// Appended to the entries about the parameter rows.
constexpr const char* kParameterRowHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first AND the "
    "last "
    "subbasin code have\nto be specified with all their parameters like this:\n(if the smallest code is 1 "
    "and "
    "the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t0.01\n0.1\t0.1\n..\t..\nThen, to all "
    "subcatchments with zone-codes ranging from 1 to 7 the \nparameters of subbasin 1 will be assigned!";
constexpr const char* kErrorHead = "FATAL: \n-----------------error------------\n";

enum parameter_row : int {
  kRowM,
  kRowTkorr,
  kRowKkorr,
  kRowQdStorage,
  kRowShmax,
  kRowQiStorage,
  kRowQbbStorage,
  kRowAlpha,
  kRowQbbInitial,
  kRowSuzInitial,
  kRowSdInitial,
  kRowPgrenz,
  kRowRrueck,
  kRowQdSnow,
};

void ReadGridSetting(modelobject& reader, grid_output_setting& setting, const std::string& name_prompt,
                     const std::string& code_prompt) {
  std::string rest;
  reader.ReadValue(reader.control_file, setting.file_name, name_prompt + reader.section_buffer, rest);
  reader.ReadValue(reader.control_file, setting.write_code, code_prompt + reader.section_buffer, rest);
}

void ReadStatisticsSetting(modelobject& reader, statistics_setting& setting, const std::string& prompt) {
  std::string rest;
  reader.ReadTwoValues(reader.control_file, "%s%d", &setting.file_name, &setting.code,
                       prompt + reader.section_buffer, rest);
}

// Reads the next word as a whole number; false at the end of the file or for
// a word that is no whole number within the range of int.
bool ReadWholeNumber(std::FILE* file, int& value) {
  std::string word;
  if (!ReadToken(file, word)) return false;
  const char* first = word.data() + (word.starts_with('+') ? 1 : 0);
  const char* last = word.data() + word.size();
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

// Skips the rest of the current line of the control file.
void SkipLine(modelobject& reader) {
  std::string rest;
  ReadRestOfLine(reader.control_file, rest);
}

[[noreturn]] void RaiseNonPositive(modelobject& reader, const std::string& what, double value) {
  *reader.messages << "FATAL: " << what << " (" << value << ")" << kParameterRowHelp << "\n"
                   << "[end-entry]";
  throw ErrorCode{kNonPositiveParameterCode};
}

}  // namespace

double ConvertParameter(int row, double value, double dt) {
  switch (row) {
    case kRowM:
      return value * kMillimetresPerMetre;
    case kRowQdStorage:
    case kRowQbbStorage:
      return StorageConstantMinutes(value);
    case kRowQiStorage:
      return RecessionFactor(dt, StorageConstantMinutes(value));
    case kRowAlpha:
      return RatePerStep(value, dt);
    case kRowPgrenz:
      return MacroporeThresholdPerStep(value, dt);
    default:
      return value;
  }
}

double& ParameterField(subbasin_parameters& p, int row) {
  switch (row) {
    case kRowM:
      return p.m;
    case kRowTkorr:
      return p.Tkorr;
    case kRowKkorr:
      return p.Kkorr;
    case kRowQdStorage:
      return p.k_ELS_QD;
    case kRowShmax:
      return p.SHmax;
    case kRowQiStorage:
      return p.k_ELS_QI;
    case kRowQbbStorage:
      return p.k_ELS_QBB;
    case kRowAlpha:
      return p.alpha;
    case kRowQbbInitial:
      return p.QBBini;
    case kRowSuzInitial:
      return p.SUZini;
    case kRowSdInitial:
      return p.SDini;
    case kRowPgrenz:
      return p.Pgrenz;
    case kRowRrueck:
      return p.Rrueck;
    default:
      return p.QDsnow;
  }
}

soil_section ReadSoilSectionValues(modelobject& reader) {
  soil_section s;
  std::string rest;
  reader.ReadValue(reader.control_file, s.method, "Methode fuer " + reader.section_buffer, rest);
  ReadGridSetting(reader, s.saturation_deficit, "Name des Saettigungsdefizit-Grids fuer ",
                  "Writegrid Saettigungsdefizit in ");
  ReadGridSetting(reader, s.drainage_storage, "Name des SUZ-Grids fuer ", "Writegrid Drainage in ");
  ReadGridSetting(reader, s.interflow_storage, "Name des SIF-Grids fuer ", "Writegrid Drainage in ");
  ReadGridSetting(reader, s.inactive_moisture, "Name des SBia-Grids fuer ", "Writegrid SBia-Grid in ");
  ReadGridSetting(reader, s.inactive_capacity, "Name des nFKia-Grids fuer ", "Writegrid nFKia-Grid in ");
  ReadGridSetting(reader, s.saturated_partition, "Name des SSP-Grids fuer ", "Writegrid SSP-Grid in ");
  ReadGridSetting(reader, s.directflow, "Name des QD-Grids fuer ", "Writegrid QD-Grid in ");
  ReadGridSetting(reader, s.interflow, "Name des QI-Grids fuer ", "Writegrid QI-Grid in ");
  reader.ReadValue(reader.control_file, s.peakflow_file,
                   "Name des Peakflow-Grids fuer " + reader.section_buffer, rest);
  constexpr std::array<const char*, kSoilTableKinds> kTablePrompts = {
      "Name des QDstatfiles fuer ",  "Name des QIstatfiles fuer ",  "Name des QBstatfiles fuer ",
      "Name des QBstatfiles fuer ",  "Name des Qgstatfiles fuer ",  "Name des SBstatfiles fuer ",
      "Name des SUZstatfiles fuer ", "Name des SIFstatfiles fuer ", "Name des SDstatfiles fuer "};
  for (int t = 0; t < kSoilTableKinds; ++t)
    ReadStatisticsSetting(reader, s.tables[static_cast<size_t>(t)], kTablePrompts[static_cast<size_t>(t)]);
  return s;
}

std::vector<subbasin_parameters> ReadSubbasinParameters(modelobject& reader,
                                                        const std::vector<int>& zone_codes,
                                                        const int* code_map, int largest_code, double dt) {
  const int n = static_cast<int>(zone_codes.size()) - 1;
  std::FILE* file = reader.control_file;

  // The code row.
  code_row columns(code_map, n, largest_code);
  int last_code = 0;
  for (;;) {
    int code = 0;
    if (!ReadWholeNumber(file, code)) {
      *reader.messages << kErrorHead << "error reading code[" << last_code << "] for " << reader.name
                       << kParameterRowHelp << "[end-entry]";
      throw ErrorCode{kParameterRowErrorCode};
    }
    last_code = code;
    const code_row::result result = columns.Add(code);
    if (result == code_row::result::no_subbasin) {
      *reader.messages << kErrorHead << "error! there is no code " << code << " (from "
                       << reader.control_file_name << ") for a subbasin in " << reader.name
                       << kParameterRowHelp << "[end-entry]";
      throw ErrorCode{kParameterRowErrorCode};
    }
    if (result == code_row::result::not_rising) {
      *reader.messages << kErrorHead << "error! the code " << code << " (from " << reader.control_file_name
                       << ") does not rise above the codes before it in the code row of " << reader.name
                       << kParameterRowHelp << "[end-entry]";
      throw ErrorCode{kParameterRowErrorCode};
    }
    if (result == code_row::result::complete) break;
  }
  SkipLine(reader);

  // The parameter rows: a value per column, copied to the subbasins the
  // column serves.
  const std::vector<bool>& reads = columns.Reads();
  std::vector<subbasin_parameters> parameters(static_cast<size_t>(n) + 1);
  for (int row = 0; row < kParameterRowCount; ++row) {
    for (int i = 1; i <= n; ++i) {
      double& field = ParameterField(parameters[static_cast<size_t>(i)], row);
      if (!reads[static_cast<size_t>(i)]) {
        field = ParameterField(parameters[static_cast<size_t>(i - 1)], row);
        continue;
      }
      const int code = zone_codes[static_cast<size_t>(i)];
      double value = 0.0;
      if (std::fscanf(file, "%lf", &value) != 1) {
        *reader.messages << kErrorHead << "error reading " << kParameterRowNames[static_cast<size_t>(row)]
                         << "[" << code << "] for " << reader.name << kParameterRowHelp << "[end-entry]";
        throw ErrorCode{kParameterRowErrorCode};
      }
      // Baseflow divides by m and takes the logarithm of Tkorr.
      if (row == kRowM && !(value > 0.0))
        RaiseNonPositive(
            reader, "recession parameter m for subbasin " + std::to_string(code) + " must be above 0", value);
      if (row == kRowTkorr && !(value > 0.0))
        RaiseNonPositive(
            reader, "transmissivity scaling Tkorr for subbasin " + std::to_string(code) + " is not positive!",
            value);
      field = ConvertParameter(row, value, dt);
    }
    SkipLine(reader);
  }
  return parameters;
}

void ReadStateSettings(modelobject& reader, soil_section& section) {
  std::string rest;
  reader.ReadValue(reader.control_file, section.read_mode,
                   "read control parameter for storage grids for " + reader.section_buffer, rest);
  reader.ReadValue(reader.control_file, section.storage_file,
                   "name of the storage content file " + reader.section_buffer, rest);
}

infiltration_section ReadInfiltrationSection(modelobject& reader, const std::string& section) {
  infiltration_section s;
  std::string rest;
  std::FILE* file = reader.control_file;
  reader.ReadValue(file, s.switch_value,
                   "ignoranzparameter fuer Infiltrationsmodell, dem Vorfahr vom " + section, rest);
  if (s.switch_value == 0) return s;
  reader.ReadValue(file, s.time_interval, "Intervall fuer " + section, rest);
  reader.ReadValue(file, s.excess.file_name, "Name des Infiltrations-Ueberschuss-Grids fuer " + section,
                   rest);
  reader.ReadValue(file, s.excess.write_code, "Writegrid INFEX in " + section, rest);
  reader.ReadTwoValues(file, "%s%d", &s.table.file_name, &s.table.code,
                       "Name des INFEXstatfiles fuer " + section, rest);
  reader.ReadValue(file, s.saturation.file_name, "Name des Saettigungs-Merker-Grids fuer " + section, rest);
  reader.ReadValue(file, s.saturation.write_code, "Writegrid Satt-Merker in " + section, rest);
  const std::string prompt = "Durch Makroporen versickernder Anteil P fuer " + section;
  reader.ReadValue(file, s.macropore_fraction, prompt, rest);
  // Outside 0..1 the excess or the water entering the soil turns negative.
  if (!(s.macropore_fraction >= 0.0 && s.macropore_fraction <= 1.0))
    reader.RaiseControlFileError(prompt + " (between 0 and 1)", reader.name);
  return s;
}

}  // namespace velmo
