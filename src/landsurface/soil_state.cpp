// Soil model: its block of the state file (parameter rows for checking, water in transit, direct-runoff
// storage).
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "framework/diagnostics.h"
#include "landsurface/bodenmod.h"
#include "setup/statefile.h"

namespace velmo {
namespace {

constexpr const char* kSoilStateSection = "[soil_model]";
constexpr const char* kSoilStateMarker = "soil_model";
// A stored parameter matches its control value within this share of the
// stored value; the block keeps the parameters with six digits ("%g").
constexpr double kStoredParameterTolerance = 1e-5;
// Fields of a travel-time zone in the block.
constexpr int kZoneFields = 5;

// A parameter row of the block: the parameter, its label and the name its
// mismatch entry gives. k_ELS_QBB, alpha and QBBini are not in the block.
struct stored_parameter {
  double subbasin_parameters::*field;
  const char* label;
  const char* name;
};
constexpr std::array<stored_parameter, 11> kStoredParameters = {{
    {&subbasin_parameters::m, "(m:\trecession constant)\n", "m"},
    {&subbasin_parameters::Tkorr, "(Tkorr:\ttransmissivity scaling for saturated zone)\n", "Tkorr"},
    {&subbasin_parameters::Kkorr, "(Kkorr:\ttransmissivity scaling for unsaturated zone)\n", "Kkorr"},
    {&subbasin_parameters::k_ELS_QD, "(k_ELS_QD:\trecession constant surface flow)\n", "k_ELS_QD"},
    {&subbasin_parameters::SHmax, "(SD_QI_lim:\tmaximum interflow storage capacity)\n", "SD_QI_lim"},
    {&subbasin_parameters::k_ELS_QI, "(k_ELS_QI:\trecession constant interflow)\n", "k_ELS_QI"},
    {&subbasin_parameters::SUZini, "(anffuell:\tinitial interflow storage content)\n", "anffuell"},
    {&subbasin_parameters::SDini, "(anfdefi:\tinitial saturation deficit)\n", "anfdefi"},
    {&subbasin_parameters::Pgrenz,
     "(Pgrenz:\tthreshold precipitation intensity for starting macropore flow)\n", "Pgrenz"},
    {&subbasin_parameters::Rrueck, "(rueck:\treinfiltrating fraction of infiltration excess)\n", "rueck"},
    {&subbasin_parameters::QDsnow, "(SR_Anteil:\tsurface runoff fraction of snowmelt)\n", "SR_Anteil"},
}};

// Labels of the other lines of the block.
constexpr const char* kCountLabel = "(number of subasins)";
constexpr const char* kCodesLabel = "(code)";
constexpr const char* kZoneFieldsLabel = "(zoneFZT.n/.sx/.zonenwert/.rel/.RelCellSum)";
std::string ZoneLabel(int i) { return "(zone " + std::to_string(i) + " and maxzeit)"; }
std::string DirectRunoffLabel(int i) { return "(QD[" + std::to_string(i) + "])"; }

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool StoredValueMatches(double stored, double control) {
  if (stored == 0.0) return control == 0.0;
  return std::fabs((stored - control) / stored) <= kStoredParameterTolerance;
}

void bodenmodellklasse::WriteStorageFile() {
  if (storage_file_name.empty()) return;
  std::string path = storage_file_name;
  PrefixPath(DefaultOutputDirectory.get(), path);
  // Outside a run (no session) the block is appended.
  std::FILE* file = state_files ? state_files->OpenBlock(path) : std::fopen(path.c_str(), "a");
  if (!file) {
    *messages << "ERROR: couldn't open file \"" << path
              << "\" \n(model version doesn't support this feature or write access error)"
              << "[end-entry]";
    if (state_files) state_files->ReportFailure(path);
    return;
  }
  const int n = subbasin_count;
  std::fprintf(file, "%s\n", kSoilStateSection);
  std::fprintf(file, "%d %s\n", n, kCountLabel);
  for (int i = 1; i <= n; ++i)
    std::fprintf(file, "%.0f\t", static_cast<double>(code[static_cast<size_t>(i)]));
  std::fprintf(file, "%s\n", kCodesLabel);
  for (const stored_parameter& row : kStoredParameters) {
    for (int i = 1; i <= n; ++i) std::fprintf(file, "%g\t", parameters[static_cast<size_t>(i)].*row.field);
    std::fputs(row.label, file);
  }
  for (int i = 1; i <= n; ++i) {
    const int maxzeit = states[static_cast<size_t>(i)].maxzeit;
    std::fprintf(file, "%d %d %s\n", i, maxzeit, ZoneLabel(i).c_str());
    const travel_zone* zones = zoneFZT(i);
    for (int k = 1; k <= maxzeit; ++k) {
      const travel_zone& z = zones[k];
      for (double value : {z.n, z.sx, z.zonenwert, z.rel, z.RelCellSum}) PutStateValue(file, value, " ");
      std::fprintf(file, "%s\n", kZoneFieldsLabel);
    }
    PutStateValue(file, states[static_cast<size_t>(i)].QD);
    std::fprintf(file, " %s\n", DirectRunoffLabel(i).c_str());
  }
  std::fprintf(file, "\n");
  if (state_file_session::CloseBlock(file)) return;
  *messages << "ERROR: error writing the state file " << path << "[end-entry]";
  if (state_files) state_files->ReportFailure(path);
}

void bodenmodellklasse::RaiseStorageMismatch(const std::string& item, double control, double stored) {
  *messages << "FATAL: error in storage file content reading " << item
            << ":\nvalue in actual control is:   " << control << "\nbut value in storage file is: " << stored
            << "\nVelmo throws..."
            << "[end-entry]";
  throw ErrorCode{kStoredStateErrorCode};
}

// A number the block must hold where it holds none (a truncated or damaged
// file).
void bodenmodellklasse::RaiseMissingStoredValue(const std::string& item, const state_file_reader& reader) {
  *messages << "FATAL: error in storage file content reading " << item << ":\nno value in storage file "
            << storage_file_name << " (position " << reader.Line() << ")\nVelmo throws..."
            << "[end-entry]";
  throw ErrorCode{kStoredStateErrorCode};
}

void bodenmodellklasse::CheckStoredLabel(state_file_reader& reader, std::string_view label,
                                         const std::string& item) {
  const int line = reader.Line();
  std::string rest;
  if (reader.ReadLabel(label, rest)) return;
  *messages << "FATAL: error in storage file content reading " << item << ":\nthe line ends in \"" << rest
            << "\", not in \"" << std::string(label) << "\" in storage file " << storage_file_name
            << " (position " << line << ")\nVelmo throws..."
            << "[end-entry]";
  throw ErrorCode{kStoredStateErrorCode};
}

void bodenmodellklasse::CheckStoredValue(state_file_reader& reader, double control, const std::string& item) {
  double stored = 0.0;
  if (!reader.ReadDouble(stored)) RaiseMissingStoredValue(item, reader);
  if (!StoredValueMatches(stored, control)) RaiseStorageMismatch(item, control, stored);
}

void bodenmodellklasse::ReadStorageFile() {
  std::string path = storage_file_name;
  PrefixPath(InitialStateDirectory.get(), path);
  std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "r"));
  if (!file) {
    *messages << "FATAL: error opening storage content file " << path << "[end-entry]";
    throw ErrorCode{kStoredStateOpenErrorCode};
  }
  state_file_reader reader(file.get());
  if (!reader.FindLineContaining(kSoilStateMarker)) {
    *messages << "FATAL: error locking for the section " << kSoilStateMarker << " in " << storage_file_name
              << "[end-entry]";
    throw ErrorCode{kStoredStateErrorCode};
  }
  auto read_int = [&](const std::string& item) {
    int value = 0;
    if (!reader.ReadInt(value)) RaiseMissingStoredValue(item, reader);
    return value;
  };

  const int n = subbasin_count;
  const int count = read_int("number of subbasins");
  if (count != n) RaiseStorageMismatch("number of subbasins", n, count);
  CheckStoredLabel(reader, kCountLabel, "number of subbasins");
  for (int i = 1; i <= n; ++i) {
    const int stored = read_int("subbasin code");
    if (stored != code[static_cast<size_t>(i)])
      RaiseStorageMismatch("subbasin code", code[static_cast<size_t>(i)], stored);
  }
  CheckStoredLabel(reader, kCodesLabel, "subbasin code");
  for (const stored_parameter& row : kStoredParameters) {
    for (int i = 1; i <= n; ++i)
      CheckStoredValue(reader, parameters[static_cast<size_t>(i)].*row.field, row.name);
    CheckStoredLabel(reader, row.label, row.name);
  }

  for (int i = 1; i <= n; ++i) {
    const int zone = read_int("actual zone");
    const int maxzeit = read_int("maxzeit of actual subbasin");
    if (zone != i) RaiseStorageMismatch("actual zone", i, zone);
    subbasin_state& state = states[static_cast<size_t>(i)];
    if (maxzeit != state.maxzeit) RaiseStorageMismatch("maxzeit of actual subbasin", state.maxzeit, maxzeit);
    CheckStoredLabel(reader, ZoneLabel(i), "actual zone");
    travel_zone* zones = zoneFZT(i);
    for (int k = 1; k <= maxzeit; ++k) {
      travel_zone& z = zones[k];
      int fields = 0;
      for (double* field : {&z.n, &z.sx, &z.zonenwert, &z.rel, &z.RelCellSum}) {
        if (!reader.ReadDouble(*field)) break;
        ++fields;
      }
      if (fields < kZoneFields)
        RaiseStorageMismatch("number of fields for zonal statistics QD", kZoneFields, fields);
      CheckStoredLabel(reader, kZoneFieldsLabel, "number of fields for zonal statistics QD");
    }
    if (!reader.ReadDouble(state.QD)) RaiseMissingStoredValue("QD", reader);
    CheckStoredLabel(reader, DirectRunoffLabel(i), "QD");
  }
}

}  // namespace velmo
