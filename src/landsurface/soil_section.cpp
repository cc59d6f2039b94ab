// Reading "[soil_model]" with its parameter rows and "[infiltration_model]" into plain structs.
#include "landsurface/soil_section.h"

#include "framework/diagnostics.h"
#include "framework/modelobject.h"
#include "framework/texthelpers.h"
#include "landsurface/soil_processes.h"
#include "setup/section_reader.h"

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

// The entry of a code or value of the parameter rows that cannot be read: the
// row and subbasin, the help, and the token that is no number.
[[noreturn]] void RaiseUnreadableRow(section_reader& in, const std::string& what, const std::string& token,
                                     const char* kind) {
  *in.Module().messages << kErrorHead << "error reading " << what << " for " << in.Module().name
                        << kParameterRowHelp << (token.empty() ? "" : "\n(\"" + token + "\" is " + kind + ")")
                        << "[end-entry]";
  throw ErrorCode{kParameterRowErrorCode};
}

[[noreturn]] void RaiseNonPositive(section_reader& in, const std::string& what, double value) {
  *in.Module().messages << "FATAL: " << what << " (" << value << ")" << kParameterRowHelp << "\n"
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

soil_section ReadSoilSectionValues(section_reader& in) {
  soil_section s;
  s.method = in.Integer("Methode fuer ");
  s.saturation_deficit =
      in.Grid("Name des Saettigungsdefizit-Grids fuer ", "Writegrid Saettigungsdefizit in ");
  s.drainage_storage = in.Grid("Name des SUZ-Grids fuer ", "Writegrid Drainage in ");
  s.interflow_storage = in.Grid("Name des SIF-Grids fuer ", "Writegrid Drainage in ");
  s.inactive_moisture = in.Grid("Name des SBia-Grids fuer ", "Writegrid SBia-Grid in ");
  s.inactive_capacity = in.Grid("Name des nFKia-Grids fuer ", "Writegrid nFKia-Grid in ");
  s.saturated_partition = in.Grid("Name des SSP-Grids fuer ", "Writegrid SSP-Grid in ");
  s.directflow = in.Grid("Name des QD-Grids fuer ", "Writegrid QD-Grid in ");
  s.interflow = in.Grid("Name des QI-Grids fuer ", "Writegrid QI-Grid in ");
  s.peakflow_file = in.Word("Name des Peakflow-Grids fuer ");
  constexpr std::array<const char*, kSoilTableKinds> kTablePrompts = {
      "Name des QDstatfiles fuer ",  "Name des QIstatfiles fuer ",  "Name des QBstatfiles fuer ",
      "Name des QBstatfiles fuer ",  "Name des Qgstatfiles fuer ",  "Name des SBstatfiles fuer ",
      "Name des SUZstatfiles fuer ", "Name des SIFstatfiles fuer ", "Name des SDstatfiles fuer "};
  for (int t = 0; t < kSoilTableKinds; ++t)
    s.tables[static_cast<size_t>(t)] = in.Statistics(kTablePrompts[static_cast<size_t>(t)]);
  return s;
}

std::vector<subbasin_parameters> ReadSubbasinParameters(section_reader& in,
                                                        const std::vector<int>& zone_codes,
                                                        const int* code_map, int largest_code, double dt) {
  const int n = static_cast<int>(zone_codes.size()) - 1;
  modelobject& module = in.Module();
  std::string token, rest;

  // The code row.
  code_row columns(code_map, n, largest_code);
  int last_code = 0;
  for (;;) {
    int code = 0;
    if (!in.Token(token) || !ParseNumber(token, code))
      RaiseUnreadableRow(in, "code[" + std::to_string(last_code) + "]", token, kNoWholeNumber);
    last_code = code;
    const code_row::result result = columns.Add(code);
    if (result == code_row::result::no_subbasin) {
      *module.messages << kErrorHead << "error! there is no code " << code << " (from "
                       << module.control_file_name << ") for a subbasin in " << module.name
                       << kParameterRowHelp << "[end-entry]";
      throw ErrorCode{kParameterRowErrorCode};
    }
    if (result == code_row::result::not_rising) {
      *module.messages << kErrorHead << "error! the code " << code << " (from " << module.control_file_name
                       << ") does not rise above the codes before it in the code row of " << module.name
                       << kParameterRowHelp << "[end-entry]";
      throw ErrorCode{kParameterRowErrorCode};
    }
    if (result == code_row::result::complete) break;
  }
  in.Line(rest);

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
      if (!in.Token(token) || !ParseNumber(token, value))
        RaiseUnreadableRow(
            in, std::string(kParameterRowNames[static_cast<size_t>(row)]) + "[" + std::to_string(code) + "]",
            token, kNoFiniteNumber);
      // Baseflow divides by m and takes the logarithm of Tkorr.
      if (row == kRowM && !(value > 0.0))
        RaiseNonPositive(
            in, "recession parameter m for subbasin " + std::to_string(code) + " must be above 0", value);
      if (row == kRowTkorr && !(value > 0.0))
        RaiseNonPositive(
            in, "transmissivity scaling Tkorr for subbasin " + std::to_string(code) + " is not positive!",
            value);
      field = ConvertParameter(row, value, dt);
    }
    in.Line(rest);
  }
  return parameters;
}

void ReadStateSettings(section_reader& in, soil_section& section) {
  section.read_mode = in.Integer("read control parameter for storage grids for ");
  section.storage_file = in.Word("name of the storage content file ");
}

infiltration_section ReadInfiltrationSection(section_reader& in) {
  infiltration_section s;
  s.switch_value = in.Integer("ignoranzparameter fuer Infiltrationsmodell, dem Vorfahr vom ");
  if (s.switch_value == 0) return s;
  s.time_interval = in.Number("Intervall fuer ");
  s.excess = in.Grid("Name des Infiltrations-Ueberschuss-Grids fuer ", "Writegrid INFEX in ");
  s.table = in.Statistics("Name des INFEXstatfiles fuer ");
  s.saturation = in.Grid("Name des Saettigungs-Merker-Grids fuer ", "Writegrid Satt-Merker in ");
  const std::string prompt = "Durch Makroporen versickernder Anteil P fuer ";
  s.macropore_fraction = in.Number(prompt);
  // Outside 0..1 the excess or the water entering the soil turns negative.
  if (!(s.macropore_fraction >= 0.0 && s.macropore_fraction <= 1.0))
    in.Module().RaiseControlFileError(prompt + in.Section() + " (between 0 and 1)", in.Module().name);
  return s;
}

}  // namespace velmo
