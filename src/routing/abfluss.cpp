// The routing model: construction, linking and initialisation, the time step and clean-up.
#include "routing/abfluss.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "routing/efficiency_sums.h"
#include "setup/lake_section.h"
#include "setup/section_reader.h"
#include "setup/statefile.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "abfluss";
constexpr const char* kOutputIntervalSection = "[output_interval]";
constexpr int kOutputUnitLine = 3;  // the unit is the first value of this line of "[output_interval]"
// Statistics tables of routing models with shorter steps get a minute column.
constexpr double kMinuteColumnBelow = 60.0;
constexpr int kUnusedRegion = 0;  // the region this process computes
// Read modes of the state file under which the routing block is not read.
constexpr int kModesWithoutState[] = {0, 2, 4};
constexpr const char* kStateSection = "[routing_model_v2]";
constexpr const char* kOlderStateSection = "[routing_model]";

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string Title(int unit) {
  switch (unit) {
    case 0:
      return "routed discharge [mm per subbasin] ";
    case kDischargeOutputUnit:
      return "routed discharge [ m3 per sec ] ";
    default:
      return "routed discharge (unknown measure)";
  }
}

}  // namespace

abflussmodellklasse::abflussmodellklasse(MessageStream* stream, const model_settings& settings,
                                         grid_table* shared_grids, const subbasin_zones& subbasins,
                                         int storage_read_mode)
    : teilmodellklasse(stream, settings, kRoutingModuleName, shared_grids, true, kHighestRoutingFlowControl) {
  // The routing model works on the soil model's subbasins.
  zone_table = subbasins.zones;
  zone_code_map = subbasins.code_map;
  zone_count = subbasins.count;
  max_zone_code = subbasins.max_code;
  // A warm start skips the initialisation passes, unless the lake set-up says otherwise.
  skip_initialization_ = storage_read_mode;
  state_files_ = settings.state_files;
  if (flow_control_parameter == 0) return;
  try {
    Construct(subbasins);
  } catch (...) {
    // The grid table must not keep a grid this object frees.
    if (precipitation_on_lakes_index_ > 0) ReleaseGrid(precipitation_on_lakes_index_);
    throw;
  }
}

abflussmodellklasse::~abflussmodellklasse() {
  // Not cleaned up: the grid table must not keep the grid freed here.
  if (precipitation_on_lakes_index_ > 0) ReleaseGrid(precipitation_on_lakes_index_);
}

void abflussmodellklasse::Construct(const subbasin_zones& subbasins) {
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  observed_substitution_ = flow_control_parameter == 2;
  const size_t zones = static_cast<size_t>(zone_count) + 1;
  areas_.fraction.assign(zones, 0.0);
  areas_.divisor.assign(zones, 1.0);
  for (int z = 0; z <= zone_count; ++z)
    areas_.fraction[static_cast<size_t>(z)] = subbasins.zones[z].area_fraction;
  downstream_.assign(zones, 0);
  element_number_.assign(zones, 0);
  column_map_.assign(zones, 0);

  section_reader in(*this, kReadingOn);
  ReadSection(in);
  in.Close();
  LogCounts();
  inflow_count_ = parameters_.totals.inflows;
  flows_.Allocate(zone_count + inflow_count_, parameters_.totals.abstractions + 2,
                  parameters_.wq.subintervals);
  linear_sums_ = std::make_unique<comparison_sums>(zone_count);
  log_sums_ = std::make_unique<comparison_sums>(zone_count);

  InitLakeModel(kLakeSection);
  RegisterPrecipitationOnLakes();
  if (lake_switch_ != 0 && parameters_.totals.reservoirs > 0) LookUpLakeGrids();

  for (size_t i = 0; i < parameters_.descriptions.size(); ++i)
    BuildElement(static_cast<int>(i) + 1, parameters_.descriptions[i]);
  SetUpStorages();
  int largest = 0;
  for (const auto& element : elements_) largest = element->MaxStorageElements(largest);
  for (const auto& element : elements_) {
    element->CheckBasinArea();
    element->WriteWqTables();
  }

  OpenStatistics();
  observed_ = std::make_unique<observed_discharge>(messages, parameters_.observed_file, start_date, time_step,
                                                   column_map_);
}

void abflussmodellklasse::LookUpLakeGrids() {
  lake_grids& g = lake_grids_;
  auto data = [this](const char* grid_name) { return RequiredGridData(grid_name); };
  auto optional = [this](const char* grid_name) {
    const int index = FindGrid(grid_name, false);
    return index > 0 ? (*grids)[index].data : nullptr;
  };
  g.codes = data("lake_codes");
  g.ponding = FindGrid("ponding_storage", false) > 0 ? data("ponding_storage") : data("ponding_storage_top");
  g.max_ponding = data("max_ponding_storage");
  g.zones = data("zonegrid_soilmodel");
  g.elevation = data("[elevation_model]");
  g.transpiration = data("real_transpiration0");
  g.interception = optional("interception_evaporation0");
  g.snow_evaporation = optional("snow_evaporation");
  g.soil_evaporation = optional("real_evaporation");
  g.downward = optional("q_downext");
  g.baseflow = optional("baseflow");
  g.precipitation = precipitation_on_lakes_.get();
  g.nrows = nrows;
  g.ncols = ncols;
  g.cellsize = cellsize;
  g.nodata = nodata_value;
}

void abflussmodellklasse::SetUpStorages() {
  connection_flags_.assign(static_cast<size_t>(zone_count) + 1, 0);
  if (parameters_.totals.abstractions == 0 && parameters_.totals.reservoirs == 0) {
    for (const auto& element : elements_) element->SetConnectionFlagMap(connection_flags_);
    return;
  }
  // The rule sections are read from the control file's lines.
  std::vector<std::string> lines;
  section_reader whole(*this, std::string());
  for (std::string line; whole.Line(line);) lines.push_back(line);
  whole.Close();
  const control_lines control(std::move(lines));

  for (const auto& element : elements_) {
    element->ReadReservoirRules(control);
    element->SetReservoirMap(reservoir_map_);
    element->SetConnectionFlagMap(connection_flags_);
  }
  // A connection may lead to a reservoir of a later element.
  for (const auto& element : elements_) element->CheckReservoirConnections(reservoir_map_);
  for (size_t e = 0; e < elements_.size(); ++e) {
    routingclass& element = *elements_[e];
    element.InitReservoirOutflows();
    element.ReadAbstractionRules(control);
    for (int a = 1; a <= element.AbstractionCount(); ++a) {
      if (!element.Abstraction(a).DrawsFromReservoir() || element.ReservoirCount() > 0) continue;
      *messages << "WARNING: abstraction AL " << element.Abstraction(a).Number() << " of routing description "
                << e + 1 << " (TG " << element.OutletCode()
                << ") draws from a reservoir, but the description has none: it takes nothing"
                << "[end-entry]";
    }
  }
}

void abflussmodellklasse::RegisterPrecipitationOnLakes() {
  const int index = grids->FirstFreeEntry();
  if (index >= kGridTableLimit) {
    *messages << "FATAL: no more free grids in memory, (max. " << kGridTableLimit << ")!"
              << "[end-entry]";
    throw ErrorCode{kNoFreeGridCode};
  }
  precipitation_on_lakes_ = owned_matrix(matrix(1, nrows, 1, ncols, 0));
  RegisterGrid(index, kPrecipitationOnLakesGrid, precipitation_on_lakes_.get(), nullptr, 0,
               kPrecipitationOnLakesGrid, 0, 1, nrows);
  precipitation_on_lakes_index_ = index;
}

int abflussmodellklasse::ZoneIndex(int code) const {
  if (code < 0 || code > max_zone_code) return 0;
  const int index = zone_code_map[code];
  return index >= 1 && index <= zone_count ? index : 0;
}

// A tributary code (of "OL", "SUMTRIB" or after "&") must name a subbasin
// other than the outlet that flows into no other outlet yet.
void abflussmodellklasse::CheckTributary(int number, const routing_description& d, int channel, int code,
                                         bool summed) {
  const char* line_end = summed ? "" : "\n";
  const int index = ZoneIndex(code);
  if (index == 0) {
    *messages << "FATAL: there cant be a tributary with code " << code
              << " for no subbasin (according to zones)" << line_end << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
  if (code == d.outlet_code) {
    *messages
        << "FATAL: subbasin " << d.outlet_code << ": code of tributary " << channel << " (" << code
        << ") is equal to subbasin code!\nIt is not allowed to rout the outflow of a subbasin back into \n"
           "the same subbasin. Use a reservoir instead."
        << line_end << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
  const int outlet = downstream_[static_cast<size_t>(index)];
  if (outlet != 0) {
    // Routed twice, its water would reach the outlets twice.
    const int other = element_number_[static_cast<size_t>(outlet)];
    *messages << "FATAL: subbasin " << code << " is a tributary in routing description " << other << " (TG "
              << zone_table[outlet].code << ") and again in routing description " << number << " (TG "
              << d.outlet_code << ")"
              << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
}

// Reservoir codes and result files are names: an observed level set by the
// data assimilation, a rule section, a file must each find one reservoir or
// abstraction.
void abflussmodellklasse::CheckStorageNames(int number, const routing_description& d) {
  const std::string here =
      " of routing description " + std::to_string(number) + " (TG " + std::to_string(d.outlet_code) + ")";
  const auto refuse = [&](const std::string& what, const std::string& first, const std::string& second) {
    *messages << "FATAL: " << what << " is given twice: " << first << " and " << second << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  };
  const auto result_file = [&](const std::string& file, const std::string& owner) {
    if (file.empty()) return;
    const auto [at, added] = result_file_owners_.emplace(file, owner);
    if (!added) refuse("the result file " + file, at->second, owner);
  };
  for (const reservoir_part& reservoir : d.reservoirs) {
    const std::string owner = "SP " + std::to_string(reservoir.code) + here;
    const auto [at, added] = reservoir_owners_.emplace(reservoir.code, owner);
    if (!added) refuse("the reservoir code " + std::to_string(reservoir.code), at->second, owner);
    result_file(reservoir.result_file, owner);
  }
  for (const abstraction_part& abstraction : d.abstractions)
    result_file(abstraction.result_file, "AL " + std::to_string(abstraction.number) + here);
}

void abflussmodellklasse::BuildElement(int number, const routing_description& d) {
  *messages << "reading routing description " << number << "[end-entry]";
  const int outlet = ZoneIndex(d.outlet_code);
  if (outlet == 0) {
    *messages << "FATAL: there is no subbasin with code " << d.outlet_code << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
  if (const int other = element_number_[static_cast<size_t>(outlet)]; other != 0) {
    *messages << "FATAL: subbasin " << d.outlet_code << " is the outlet (TG) of routing description " << other
              << " and again of routing description " << number << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
  if (const int below = downstream_[static_cast<size_t>(outlet)]; below != 0) {
    // The element below has already routed this outlet's runoff alone; the
    // water routed here would never leave.
    *messages
        << "FATAL: routing description " << number << " for TG " << d.outlet_code
        << " comes after routing description " << element_number_[static_cast<size_t>(below)] << " (TG "
        << zone_table[below].code
        << "), which takes its outflow as a tributary: the descriptions must be ordered from upstream to "
           "downstream"
        << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
  if (!(d.divisor > 0.0)) {
    *messages << "FATAL: the area divisor of TG " << d.outlet_code << " in routing description " << number
              << " must be above 0, not " << d.divisor << "[end-entry]";
    throw ErrorCode{kDescriptionCodeErrorCode};
  }
  CheckStorageNames(number, d);

  reach_context context;
  context.dt = time_interval;
  context.subintervals = parameters_.wq.subintervals;
  context.zone_count = zone_count;
  context.code_map = zone_code_map;
  context.max_code = max_zone_code;
  context.nodata_value = nodata_value;
  context.output_unit = &output_unit_;
  context.areas = &areas_;
  context.flows = &flows_;
  context.start = start_date;
  context.output_directory = DefaultOutputDirectory ? *DefaultOutputDirectory : std::string();
  context.interval_end_shift = GetIntervalEndShift();
  context.lake = lake_switch_ != 0 ? &lake_grids_ : nullptr;
  context.lake_volume_from_ponding = skip_initialization_ != 0;
  auto element = std::make_unique<routingclass>(messages, context, d.outlet_code, d.area, d.divisor);
  element_number_[static_cast<size_t>(outlet)] = number;
  elements_.push_back(std::move(element));
  routingclass& e = *elements_.back();

  int channel = 0;
  for (const channel_part& part : d.channels) {
    ++channel;
    const channel_values values = ChannelValues(part.values);
    switch (part.kind) {
      case channel_kind::tributary:
      case channel_kind::summed: {
        // Each code is linked as soon as it is checked, so that a code named
        // twice in one channel is refused too.
        auto link = [&](int code, bool summed) {
          CheckTributary(number, d, channel, code, summed);
          tributaries_.push_back(ZoneIndex(code));
          downstream_[static_cast<size_t>(ZoneIndex(code))] = outlet;
        };
        link(part.code, part.kind == channel_kind::summed);
        for (int code : part.joined) link(code, true);
        e.SetUpChannel(part.kind, part.code, part.joined, values, parameters_.wq, observed_substitution_);
        break;
      }
      case channel_kind::inflow: {
        // The description reader has checked the inflows.
        const int k = part.code;
        e.SetUpChannel(channel_kind::inflow, k, {}, values, parameters_.wq, observed_substitution_);
        e.InitInflow(k, part.mode, part.mode == inflow_mode::constant ? part.constant : 0.0, part.file,
                     part.start_row, part.column, start_date);
        break;
      }
    }
  }
  for (const abstraction_part& part : d.abstractions) e.SetAblaufModus(part);
  for (const reservoir_part& part : d.reservoirs) e.SetSpeicherParams(part);
}

void abflussmodellklasse::OpenStatistics() {
  statistics_zones_.assign(zone_table, zone_table + zone_count + 1);
  std::string file_name = parameters_.statistics.file;
  int error = 0;
  statistics_ = std::make_unique<routstatistic>(
      error, messages, statistics_zones_.data(), zone_count, parameters_.statistics.code, file_name,
      DefaultOutputDirectory.get(), output_list_count, output_list.empty() ? nullptr : output_list.data(),
      time_interval < kMinuteColumnBelow, areas_.fraction.data());
  if (error != 0) throw ErrorCode{error};
  ReadOutputUnit();
  statistics_->WriteHeader(Title(output_unit_), name);
}

void abflussmodellklasse::ReadOutputUnit() {
  section_reader in(*this, kOutputIntervalSection, {.section_in_prompts = false});
  std::string line;
  for (int i = 1; i < kOutputUnitLine; ++i) in.Line(line);
  output_unit_ = in.Integer("unit of the routed discharge (third value) in " +
                            std::string(kOutputIntervalSection) + " for ");
  in.Close();
}

// ============================================================== linking

void abflussmodellklasse::InitLakeModel(const std::string& section) {
  if (FindGrid("lake_codes", false) > 0) {
    const lake_section lake = ReadLakeSection(*this, section, lake_values::readgrids);
    lake_switch_ = lake.flow_control;
    skip_initialization_ = lake.readgrids;
    return;
  }
  *messages << "INFO: no LAKE-grid was found in " << name << "\n"
            << "Lake modelling is switched off for " << name << ".\n"
            << "[end-entry]";
}

void abflussmodellklasse::LinkInputGrids(bool interception_first) {
  if (flow_control_parameter == 0 || lake_switch_ == 0) return;
  lake_cells_.assign(1, 0);
  const int lakes = FindGrid("lake_codes", false);
  if (lakes == 0) return;
  lake_codes_ = (*grids)[lakes].data;
  FindRequiredGrid("ponding_storage");
  FindRequiredGrid("real_transpiration0");
  const int input = interception_first
                        ? FindOneOfThreeGrids("snowcover_outflow", "throughfall0", "precipitation")
                        : FindOneOfThreeGrids("throughfall0", "snowcover_outflow", "precipitation");
  lake_input_ = (*grids)[input].data;
  if (double** regions = OptionalGridData("MPIRegions", false)) regions_ = regions;

  double** zones = (*grids)[1].data;
  for (int r = 1; r <= nrows; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c) {
      if (zones && !(zones[r][c] > nodata_value)) continue;
      if (regions_ && regions_[r][c] != kUnusedRegion) continue;
      if (lake_codes_[r][c] > nodata_value) ++lake_cells_[0];
    }
  }
  for (size_t j = 0; j < lake_cells_.size(); ++j)
    *messages << "DEBUG: lakeCellsPerMPIRank[" << static_cast<int>(j) << "] " << lake_cells_[j]
              << "[end-entry]";
}

void abflussmodellklasse::CopyInputOnLakes() {
  if (!lake_codes_ || !lake_input_) return;
  double** target = precipitation_on_lakes_.get();
  for (int r = 1; r <= nrows; ++r) {
    const row_range cols = row_ranges ? row_ranges[r] : row_range{1, ncols};
    for (int c = cols.first; c <= cols.last; ++c)
      if (lake_codes_[r][c] > nodata_value) target[r][c] = lake_input_[r][c];
  }
}

void abflussmodellklasse::SetSubbasinRunoff(double** runoff) {
  if (flow_control_parameter == 0) return;
  runoff_ = runoff;
  if (runoff_) return;
  *messages
      << "FATAL: No valid discharges for discharge routing!\nYou have to run the model including at least "
         "precipitation interpolation and soil model\nif discharges are wished."
      << "[end-entry]";
  throw ErrorCode{kNoRunoffCode};
}

void abflussmodellklasse::InitializeRouting() {
  if (flow_control_parameter == 0) return;
  if (!runoff_) SetSubbasinRunoff(nullptr);
  const int positions = zone_count + inflow_count_;
  for (int p = 1; p <= zone_count; ++p) flows_.step[static_cast<size_t>(p)] = runoff_[0][p];
  for (int p = zone_count + 1; p <= positions; ++p) flows_.step[static_cast<size_t>(p)] = 0.0;
  const observed_values* observed = observed_ && observed_->Opened() ? observed_.get() : nullptr;
  for (const auto& element : elements_) element->InitFlowArrays(observed, &column_map_);
  auto copy_to_subintervals = [&] {
    for (int p = 1; p <= positions; ++p) {
      double* sub = flows_.Sub(p);
      std::fill(sub + 1, sub + flows_.subintervals + 1, flows_.step[static_cast<size_t>(p)]);
    }
  };
  copy_to_subintervals();

  *messages << "checking connection of internal inflows and abstractions"
            << "[end-entry]";
  ConnectAbstractions();

  for (const auto& element : elements_) element->InitChannelStorages();
  long hours = 0;
  for (const auto& element : elements_) hours += element->LargestLowFlowHours();
  constexpr double kMostPasses = 1e9;
  initialization_passes_ = static_cast<int>(
      std::clamp(std::ceil(static_cast<double>(hours) * kMinutesPerHour / time_interval), 1.0, kMostPasses));
  if (skip_initialization_ != 0) return;

  *messages << "routing the initialization discharges (" << initialization_passes_ << " times)"
            << "[end-entry]";
  std::vector<double> kept(flows_.step.begin(), flows_.step.begin() + positions + 1);
  for (int pass = 0; pass < initialization_passes_; ++pass) {
    std::copy(flows_.step.begin() + 1, flows_.step.begin() + positions + 1, kept.begin() + 1);
    copy_to_subintervals();
    for (const auto& element : elements_)
      element->RouteStep(0, start_date.month, start_date.day, start_date.hour, 0);
    *messages << ".";
    std::copy(kept.begin() + 1, kept.begin() + zone_count + 1, flows_.step.begin() + 1);
  }
  *messages << "[end-entry]";
}

void abflussmodellklasse::ConnectAbstractions() {
  constexpr const char* kHead =
      "FATAL: \n ---> Error in connecting internal abstractions with internal inflows:\n";
  for (size_t e = 0; e < elements_.size(); ++e) {
    const routingclass& receiving = *elements_[e];
    for (const channel_row& row : receiving.Rows()) {
      if (row.kind != channel_kind::inflow || row.mode != inflow_mode::internal) continue;
      const int k = row.inflow_number;
      bool found = false;
      for (size_t f = 0; f < elements_.size(); ++f) {
        const routingclass& giving = *elements_[f];
        for (int a = 1; a <= giving.AbstractionCount(); ++a) {
          AL_class& abstraction = giving.Abstraction(a);
          if (!abstraction.Internal() || abstraction.Number() != k) continue;
          if (found) {
            *messages << kHead << "in routing description " << f + 1 << " for TG " << giving.OutletCode()
                      << ":\n"
                      << "Inflow " << k << " is already connected to an internal abstraction.\n"
                      << "Each abstaction (AL-element) must be conencted to exactly one internal "
                         "inflow(ZL-element)\n"
                      << "[end-entry]";
            throw ErrorCode{kInflowConnectedTwiceCode};
          }
          if (giving.OutletCode() == receiving.OutletCode()) {
            *messages << kHead << "Abstraction AL " << abstraction.Number() << " from routing description "
                      << f + 1 << " and inflow ZL " << k
                      << " are both defined for the same routing-subbasin TG " << giving.OutletCode() << ".\n"
                      << "this is not allowed\n"
                      << "[end-entry]";
            throw ErrorCode{kSameOutletConnectionCode};
          }
          // The cap of a rule looks at the receiving element's first
          // tributary, in m3/s over the area its depth lies on.
          const channel_row* first = receiving.RowCount() > 0 && receiving.Row(1).kind != channel_kind::inflow
                                         ? &receiving.Row(1)
                                         : nullptr;
          const int tributary = first ? first->position : 0;
          abstraction.Connect(receiving.OutletPosition(), receiving.Area(), receiving.Divisor(), tributary,
                              tributary > 0 ? areas_.PositionArea(tributary) : 0.0);
          found = true;
        }
      }
      if (!found) {
        *messages << kHead << "in routing description " << e + 1 << " for TG " << receiving.OutletCode()
                  << ":\n"
                  << "Internal Inflow ZL " << k << " has no conenction to an internal abstraction.\n"
                  << "this is not allowed\n"
                  << "[end-entry]";
        throw ErrorCode{kUnconnectedInflowCode};
      }
    }
  }
  for (size_t f = 0; f < elements_.size(); ++f) {
    const routingclass& giving = *elements_[f];
    for (int a = 1; a <= giving.AbstractionCount(); ++a) {
      const AL_class& abstraction = giving.Abstraction(a);
      if (!abstraction.Internal() || abstraction.Connected()) continue;
      *messages << kHead << "in routing description " << f + 1 << " for TG " << giving.OutletCode() << ":\n"
                << "Internal abstraction AL " << abstraction.Number()
                << " is not connected to any internal inflow.\n"
                << "[end-entry]";
      throw ErrorCode{kUnconnectedAbstractionCode};
    }
  }
}

void abflussmodellklasse::ReadStorageFile(const std::string& file_name, int read_mode) {
  if (flow_control_parameter == 0) return;
  state_file_name_ = file_name;
  std::string path = file_name;
  PrefixPath(InitialStateDirectory.get(), path);
  if (file_name.empty() || std::ranges::find(kModesWithoutState, read_mode) != std::end(kModesWithoutState))
    return;

  std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "r"));
  if (!file) {
    *messages << "FATAL: error opening storage content file " << path << "[end-entry]";
    throw ErrorCode{kStateFileOpenErrorCode};
  }
  state_file_reader reader(file.get());
  int format = kStateFormatWithSizes;
  double stored_step = time_interval;
  if (!reader.FindLineContaining(kStateSection)) {
    *messages << "INFORMATION: couldn't find section " << kStateSection << ", looking now for "
              << kOlderStateSection << " in " << path << "[end-entry]";
    reader.Rewind();
    format = 1;
    if (!reader.FindLineContaining(kOlderStateSection)) {
      *messages << "FATAL: error locking for the section " << kStateSection << " or " << kOlderStateSection
                << " in " << path << "[end-entry]";
      throw ErrorCode{kStateContentErrorCode};
    }
  }
  if (format == kStateFormatWithSizes) {
    if (!reader.ReadDouble(stored_step) || !(stored_step > 0.0)) {
      *messages << "FATAL: error reading the time step of " << kStateSection << " in " << path
                << " (position " << reader.Line() << ")"
                << "[end-entry]";
      throw ErrorCode{kStateContentErrorCode};
    }
    reader.SkipRestOfLine();
  }
  for (const auto& element : elements_) element->ReadState(reader, path, stored_step, format);
}

void abflussmodellklasse::WriteStorageFile() {
  const bool named = !state_file_name_.empty();
  std::string path = named ? state_file_name_ : kDefaultStateFileName;
  PrefixPath(DefaultOutputDirectory.get(), path);
  const std::string failure =
      named ? "couldn't open file \"" + path +
                  "\" \n(model version doesn't support this feature or write access error)"
            : "couldn't open file " + path +
                  " \n(no filename was given or model version \ndoesn't support this feature or the current "
                  "user "
                  "has no write access)";
  // Outside a run (no session) the block replaces the file.
  std::FILE* file = state_files_ ? state_files_->OpenBlock(path) : std::fopen(path.c_str(), "w");
  if (!file) {
    *messages << "ERROR: " << failure << "[end-entry]";
    if (state_files_) state_files_->ReportFailure(path);
    return;
  }
  std::fprintf(file, "%s\n", kStateSection);
  std::fprintf(file, "%.3f (timestep in minutes)\n", time_interval);
  for (const auto& element : elements_) element->WriteState(file);
  std::fprintf(file, "\n");
  if (state_file_session::CloseBlock(file)) return;
  *messages << "ERROR: error writing the state file " << path << "[end-entry]";
  if (state_files_) state_files_->ReportFailure(path);
}

void abflussmodellklasse::CollectReservoirs(std::vector<SP_class*>& reservoirs) {
  if (flow_control_parameter == 0) return;
  for (const auto& element : elements_) element->CollectReservoirs(reservoirs);
}

// ============================================================== time step

double abflussmodellklasse::SimulatedDischarge(int zone) const {
  const double depth = flows_.step[static_cast<size_t>(zone)];
  if (output_unit_ != kDischargeOutputUnit) return depth;
  // An outlet's depth lies over its whole upstream area divided by its divisor.
  return depth * areas_.fraction[0] * areas_.fraction[static_cast<size_t>(zone)] * kDepthToDischargeFactor /
         time_interval / areas_.divisor[static_cast<size_t>(zone)];
}

void abflussmodellklasse::RunTimeStep(int minute, int hour, int day, int month, int year) {
  if (flow_control_parameter == 0) return;
  if (lake_switch_ != 0) CopyInputOnLakes();
  ReportProgress(minute, hour, day, month, year);

  for (int p = 1; p <= zone_count; ++p) flows_.step[static_cast<size_t>(p)] = runoff_[0][p];
  for (const auto& element : elements_) element->ReadExternalInflows(year, month, day, hour, minute);
  const int positions = zone_count + inflow_count_;
  for (int p = 1; p <= positions; ++p) {
    double* sub = flows_.Sub(p);
    std::fill(sub + 1, sub + flows_.subintervals + 1, flows_.step[static_cast<size_t>(p)]);
  }
  for (const auto& element : elements_) element->RouteStep(year, month, day, hour, minute);
  // A discharge no table can hold ends the run before it is written.
  for (int i = 1; i <= zone_count; ++i)
    if (const double routed = flows_.step[static_cast<size_t>(i)]; !std::isfinite(routed))
      RaiseNotFiniteSubbasin("routed discharge", static_cast<int>(zone_table[i].code), routed);

  CompareWithObserved();
  if (observed_) observed_->Advance(model_date{minute, hour, day, month, year});
  WriteStatistics(minute, hour, day, month, year);
}

void abflussmodellklasse::CompareWithObserved() {
  if (!observed_ || !observed_->Comparing()) return;
  ++compared_steps_;
  if (compared_steps_ <= parameters_.efficiency_offset) return;
  for (int i = 1; i <= zone_count; ++i) {
    const int column = column_map_[static_cast<size_t>(i)];
    if (column <= 0) continue;
    const double simulated = SimulatedDischarge(i);
    for (int row = 0; row < kWindowRows; ++row)
      AddComparison(linear_sums_->at(row, i), log_sums_->at(row, i), simulated,
                    observed_->Value(row, column));
  }
}

void abflussmodellklasse::WriteStatistics(int minute, int hour, int day, int month, int year) {
  statistics_->StartStep();
  for (int i = 1; i <= zone_count; ++i) statistics_->AddDischarge(i, SimulatedDischarge(i));
  statistics_->EndStepDischarge(year, month, day, hour, minute);
}

void abflussmodellklasse::FlushBuffers() {
  if (flow_control_parameter == 0 || !statistics_) return;
  statistics_->FlushRows();
  for (const auto& element : elements_) element->FlushResults();
}

// ============================================================== clean-up

void abflussmodellklasse::CleanUp() {
  if (flow_control_parameter > 0) {
    if (ready) WriteStorageFile();
    FreeTracers();
    if (ready && observed_ && observed_->Opened() && statistics_)
      statistics_->WriteEfficiency(*linear_sums_, *log_sums_);
    observed_.reset();
    if (statistics_) statistics_->CleanUp();
    statistics_.reset();
    // Changes of discharge class move water into or out of the channels'
    // compensation volumes, which keep it: what a run left there.
    if (ready)
      for (const auto& element : elements_)
        if (element->RowCount() > 0)
          *messages << "INFO: routing element TG " << element->OutletCode()
                    << ": the compensation volume of its channels' changes of discharge class holds "
                    << element->CompensationVolume() << " m3 (below 0: water that longer delays created)"
                    << "[end-entry]";
    for (const auto& element : elements_) element->CleanUp();
    elements_.clear();
    flows_ = flow_arrays{};
  }
  if (precipitation_on_lakes_index_ > 0) {
    ReleaseGrid(precipitation_on_lakes_index_);
    precipitation_on_lakes_index_ = 0;
    precipitation_on_lakes_.reset();
  }
  modelobject::CleanUp();
}

}  // namespace velmo
