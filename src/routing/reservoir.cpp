// Reservoirs and lakes: set-up, the balance of a step, the outflow by rule or connection, the result table.
#include "routing/reservoir.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "framework/diagnostics.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"
#include "physics/units.h"
#include "routing/abstraction.h"
#include "routing/flow_arrays.h"
#include "routing/storage_processes.h"
#include "setup/statefile.h"

namespace velmo {
namespace {

constexpr double kMillimetresPerMetre = 1000.0;
// All cells of a lake share the level of its full surface, to this (m).
constexpr double kLakeTopTolerance = 0.01;
// A lake this far above the top of its rule passes at least its inflow (m).
constexpr double kLakeOverflowHeight = 0.5;
// Groundwater exchanges below this are taken as none.
constexpr double kSmallestExchange = 1e-10;
// Mode-8 withdrawals leave at least this share of the rule volume.
constexpr double kKeptShareOfRuleVolume = 0.9;
// Result rows: date, W, A, V, the balance terms.
constexpr int kResultRowValues = 5 + 3 + 3 * kBalanceTerms;
constexpr long kResultRowBytes = 280;   // 8 per tracer + 280, no tracers in the routing
constexpr int kLongestMinuteStep = 59;  // steps of 1..59 minutes carry a minute column

constexpr const char* kResultColumns =
    "\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout[m3s]\tIrrig[m3]\tIrrig[mm]"
    "\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR[m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]"
    "\tdV[m3]\tdV[mm]\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr[m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";

}  // namespace

SP_class::SP_class(const reservoir_context& context, const reservoir_part& part)
    : context_(context), part_(part) {
  volume = part.initial_volume;
  level = part.level;
  area = part.area;
  const double seconds = context.dt * kSecondsPerMinute;
  if (part.minimum_step > seconds) {
    // A sub-step longer than the step would compute none.
    *context.messages << "WARNING: dTmin of reservoir " << part.code << " (" << part.minimum_step
                      << " s) is longer than the time step (" << seconds
                      << " s): its outflow is computed in one sub-step of the step"
                      << "[end-entry]";
    substeps_ = 1;
    substep_seconds_ = seconds;
  } else {
    substeps_ = std::max(1, static_cast<int>(seconds / part.minimum_step));
    substep_seconds_ = part.minimum_step;
  }
  minute_column_ = context.dt >= 1.0 && context.dt <= kLongestMinuteStep;
  row_capacity_ = static_cast<int>(std::max(1L, kResultBufferBytes / kResultRowBytes));
  result_path_ = part.result_file;
  modelobject::PrefixPath(&context_.output_directory, result_path_);
}

// ============================================================== set-up

void SP_class::SetUp() {
  if (IsLake()) BuildLevelVolumeTable();
  WriteResultHeader();
  if (IsLake() && context_.volume_from_ponding) InitLakeVolume();
  const int flooded = SetLevelFromVolume(volume);
  if (IsLake()) area = flooded * cell_area_;
}

void SP_class::BuildLevelVolumeTable() {
  const lake_grids& g = *context_.lake;
  MessageStream& messages = *context_.messages;
  const double code = part_.code;
  double first_top = 0.0;
  double top = 0.0;
  std::vector<double> elevations;
  for (int r = 1; r <= g.nrows; ++r) {
    for (int c = 1; c <= g.ncols; ++c) {
      if (g.codes[r][c] != code || g.zones[r][c] == g.nodata) continue;
      const double cell_top = g.max_ponding[r][c] / kMillimetresPerMetre + g.elevation[r][c];
      if (cells_.empty()) first_top = top = cell_top;
      if (std::fabs(cell_top - first_top) > kLakeTopTolerance) {
        messages << "FATAL: \n============== ERROR ====================\n"
                 << "Error in initialization for lake " << part_.code << "."
                 << "All Cells for a lake must have the same Altitude value for DEM + MAXPOND\n"
                 << "Value at row " << r << ", col " << c << " is " << cell_top << "\n"
                 << "but first value of dhm for this lake was " << first_top << "\n"
                 << "\n\n=======================================\n"
                 << "[end-entry]";
        throw ErrorCode{kLakeAltitudeCode};
      }
      if (g.zones[r][c] != context_.outlet_code) {
        messages << "FATAL:  error in routing description or LAKE grid:\n"
                 << " Lake " << part_.code << " must be located completely within subbasin "
                 << context_.outlet_code << "."
                 << "[end-entry]";
        throw ErrorCode{kLakeOutsideSubbasinCode};
      }
      top = std::max(top, cell_top);
      cells_.push_back({r, c, g.elevation[r][c]});
      elevations.push_back(g.elevation[r][c]);
    }
  }
  if (cells_.empty()) {
    messages << "FATAL: lake " << part_.code << " of subbasin " << context_.outlet_code
             << " has no cell: no cell of the subbasins carries its code in the grid lake_codes"
             << "[end-entry]";
    throw ErrorCode{kLakeOutsideSubbasinCode};
  }
  cell_area_ = g.cellsize * g.cellsize;
  table_ = velmo::BuildLevelVolumeTable(elevations, top, cell_area_);

  char name[64];
  std::snprintf(name, sizeof name, "W_V_Table_%02d.dat", part_.code);
  InterruptGuard no_interrupt;
  std::ofstream file(name);
  if (file) {
    file << "waterlevel-volume-table lake " << part_.code << "\n"
         << "Level[m a.s.l.]\tVolume[m^3]\n";
    for (int i = 0; i < table_.Entries(); ++i)
      file << table_.level[static_cast<size_t>(i)] << "\t" << table_.volume[static_cast<size_t>(i)] << "\n";
    file.close();
  }
  if (!file) {
    messages << "FATAL: error opening " << name << " for writing the waterlevel-volume-relation to disk."
             << "[end-entry]";
    throw ErrorCode{kLakeTableFileCode};
  }
}

void SP_class::WriteResultHeader() {
  std::string head = "YY\tMM\tDD\tHH";
  if (minute_column_) head += "\tmm";
  head += kResultColumns;
  InterruptGuard no_interrupt;
  std::FILE* file = std::fopen(result_path_.c_str(), "w");
  bool written = file != nullptr;
  if (file) {
    std::fprintf(file, "%s\nreservoir_%d\n%s\n", head.c_str(), part_.code, head.c_str());
    written = std::ferror(file) == 0;
    written = std::fclose(file) == 0 && written;
  }
  if (!written) {
    *context_.messages << "FATAL: error opening " << result_path_ << " for reservoir " << part_.code
                       << "[end-entry]";
    throw ErrorCode{kReservoirFileCode};
  }
}

void SP_class::ReadRules(const control_lines& control) {
  const std::string section = "[abstraction_rule_reservoir_" + std::to_string(part_.code) + "]";
  // The section must be there before its connection is looked for.
  if (control.FindSection(section) < 0) ReadOperatingRule(control, section, context_.messages);
  connected_ = ReadHydraulicConnection(control, section, part_.code, context_.messages, connection_);
  rule_ = ReadOperatingRule(control, section, context_.messages, connected_);
}

void SP_class::RegisterReservoir(reservoir_map& map) {
  reservoirs_ = &map;
  map[part_.code] = reservoir_entry{&level, &volume, &area};
}

void SP_class::CheckConnection(const reservoir_map& map) const {
  if (!connected_) return;
  if (connection_.target != part_.code && map.contains(connection_.target)) return;
  *context_.messages << "FATAL: the HydraulicConnection of SP " << part_.code << " leads to reservoir "
                     << connection_.target << ", which is "
                     << (connection_.target == part_.code ? "the reservoir itself"
                                                          : "no reservoir of the routing")
                     << "[end-entry]";
  throw ErrorCode{kRuleErrorCode};
}

void SP_class::InitOutflow(const flow_arrays& flows, const model_date& start) {
  const model_date date{start.minute, start.hour, start.day, start.month, 0};
  outflow = ComputeOutflow(flows, {}, 0.0, date);
  const double seconds = context_.dt * kSecondsPerMinute;
  if (volume < outflow * seconds) outflow = volume / seconds;
}

// ============================================================== lake

double PondedWaterEvaporation(const lake_grids& g, int r, int c) {
  double evaporation = g.transpiration[r][c];
  for (double** other : {g.interception, g.snow_evaporation, g.soil_evaporation})
    if (other && other[r][c] != g.nodata) evaporation -= other[r][c];
  return evaporation;
}

double SP_class::VolumeToLevel(double v) const { return IsLake() ? velmo::VolumeToLevel(table_, v) : 0.0; }

double SP_class::LevelToVolume(double w) const { return IsLake() ? velmo::LevelToVolume(table_, w) : 0.0; }

int SP_class::SetLevelFromVolume(double v) {
  if (!IsLake()) return 0;
  level = VolumeToLevel(v);
  double** ponding = context_.lake->ponding;
  int flooded = 0;
  for (const lake_cell& cell : cells_) {
    const double depth = level - cell.elevation;
    if (depth > 0.0) {
      ponding[cell.row][cell.col] = depth * kMillimetresPerMetre;
      ++flooded;
    } else {
      ponding[cell.row][cell.col] = 0.0;
    }
  }
  return flooded;
}

int SP_class::LakeVolumeFromPonding(double& v) const {
  v = 0.0;
  if (!IsLake()) return 0;
  double** ponding = context_.lake->ponding;
  int wet = 0;
  double depth = 0.0;
  for (const lake_cell& cell : cells_) {
    const double p = ponding[cell.row][cell.col];
    if (p > 0.0) {
      depth += p;
      ++wet;
    }
  }
  v = depth / kMillimetresPerMetre * cell_area_;
  return wet;
}

void SP_class::InitLakeVolume() {
  if (IsLake()) LakeVolumeFromPonding(volume);
}

// The lake's fluxes, then its water from the ponding grid, levelled. What
// fell on and evaporated from every cell of the lake (a dry one too: the
// step may have wetted or dried it) went to and came from its ponded water;
// the cells' evaporation from the canopy, the snow and the soil did not.
void SP_class::LakeFluxes(double seconds) {
  const lake_grids& g = *context_.lake;
  const bool exchange = g.downward && g.baseflow;
  double evaporation = 0.0;
  double precipitation = 0.0;
  double groundwater = 0.0;
  double ponded = 0.0;
  for (const lake_cell& cell : cells_) {
    const int r = cell.row;
    const int c = cell.col;
    evaporation += PondedWaterEvaporation(g, r, c);
    precipitation += g.precipitation[r][c];
    const double p = g.ponding[r][c];
    if (!(p > 0.0)) continue;
    ponded += p;
    if (exchange) {
      const double x = g.downward[r][c];
      groundwater += std::fabs(x) > kSmallestExchange ? x : -g.baseflow[r][c];
    }
  }
  terms_[kEvaporationTerm].volume = evaporation * cell_area_ / kMillimetresPerMetre;
  terms_[kPrecipitationTerm].volume = precipitation * cell_area_ / kMillimetresPerMetre;
  terms_[kGroundwaterTerm].volume = seconds * cell_area_ * groundwater;
  const double water = ponded / kMillimetresPerMetre * cell_area_;
  area = SetLevelFromVolume(water) * cell_area_;
  previous_volume_ = volume;
  volume = water;
}

// ============================================================== step

void SP_class::Balance(double irrigation, double abstraction, const flow_arrays& flows, double inflow,
                       const std::vector<AL_class*>& draws, const model_date& date) {
  const double seconds = context_.dt * kSecondsPerMinute;
  for (balance_value& term : terms_) term = {};
  terms_[kIrrigationTerm].volume = irrigation;
  terms_[kInflowTerm].volume = seconds * inflow;
  previous_volume_ = volume;
  if (IsLake()) LakeFluxes(seconds);

  const bool advance = date.year >= 1;
  if (advance) volume = std::max(0.0, volume - irrigation - abstraction);
  date_ = date;
  outflow = ComputeOutflow(flows, draws, inflow, date);

  double withdrawn = 0.0;
  if (advance) {
    for (const AL_class* draw : draws) withdrawn += seconds * draw->discharge;
    volume -= withdrawn;
    volume += seconds * inflow;
  }
  if (volume < seconds * outflow) outflow = volume / seconds;
  if (advance) {
    volume -= seconds * outflow;
    SetLevelFromVolume(volume);
  }

  terms_[kOutflowTerm].volume = seconds * outflow;
  const double taken = abstraction + withdrawn;
  const double sources = terms_[kInflowTerm].volume + terms_[kGroundwaterTerm].volume +
                         terms_[kPrecipitationTerm].volume - terms_[kEvaporationTerm].volume;
  terms_[kVolumeChangeTerm].volume = sources - irrigation - taken - terms_[kOutflowTerm].volume;
  if (IsLake()) {
    terms_[kBalanceErrorTerm].volume = volume - previous_volume_ - terms_[kVolumeChangeTerm].volume;
  } else if (area > 0.0 && advance) {
    level += terms_[kVolumeChangeTerm].volume / area;
  }
  terms_[kAbstractionTerm].volume = taken;
  for (balance_value& term : terms_) {
    term.rate = term.volume / seconds;
    term.depth = area > 0.0 ? kMillimetresPerMetre * term.volume / area : 0.0;
  }
}

int SP_class::RunningAverageLength() const {
  return std::max(1, static_cast<int>(part_.running_average_hours * kMinutesPerHour / context_.dt));
}

double SP_class::AveragedVolume() {
  running_average.push_back(volume);
  const size_t length = static_cast<size_t>(RunningAverageLength());
  while (running_average.size() > length) running_average.pop_front();
  constexpr int kShortestAverage = 2;  // hours
  if (part_.running_average_hours < kShortestAverage) return std::numeric_limits<double>::quiet_NaN();
  if (running_average.size() < 2) return volume;
  double sum = 0.0;
  for (double v : running_average) sum += v;
  return sum / static_cast<double>(running_average.size());
}

double SP_class::ComputeOutflow(const flow_arrays& flows, const std::vector<AL_class*>& draws, double inflow,
                                const model_date& date) {
  withdrawals_.assign(draws.size(), 0.0);
  for (AL_class* draw : draws) draw->BeginTimedRule(flows, date);
  const double q =
      connected_ ? ConnectionOutflow(flows, draws, inflow, date) : RuleOutflow(flows, draws, inflow, date);
  const double seconds = context_.dt * kSecondsPerMinute;
  for (size_t i = 0; i < draws.size(); ++i) draws[i]->discharge = withdrawals_[i] / seconds;
  return q;
}

double SP_class::RuleOutflow(const flow_arrays& /*flows*/, const std::vector<AL_class*>& draws, double inflow,
                             const model_date& date) {
  const day_blend blend = BlendOfDay(rule_.start_day, RuleDayOfYear(date.month, date.day));
  const double averaged = AveragedVolume();
  const bool averaging = !std::isnan(averaged);
  const size_t upper = static_cast<size_t>(blend.upper);
  bool open = false;
  if (date.month >= 1 && rule_.Rows() > 0) {
    const int weekday = RuleWeekday(date.year, date.month, date.day, date.hour, date.minute,
                                    context_.interval_end_shift, minute_column_);
    open = RuleTableOpen(rule_, blend.upper, weekday, date.hour);
  }
  const double cap = rule_.Rows() > 0 ? rule_.cap[upper] : 0.0;
  const double top = rule_.Rows() > 0 ? rule_.x.back() : 0.0;
  const double overflow_level = IsLake() && rule_.Rows() > 0 ? VolumeToLevel(top) + kLakeOverflowHeight : 0.0;
  const bool advance = date.year > 0;
  const double d = substep_seconds_;

  double v = volume;
  double sum = 0.0;
  for (int i = 0; i < substeps_; ++i) {
    if (advance) v += d * inflow;
    const double x = averaging ? averaged : v;
    double q = 0.0;
    if (!rule_.flow_indexed && rule_.Rows() > 0 && v > top) {
      // Above the top of the rule: a plain reservoir passes its inflow, a lake
      // follows its rule on, and at least its inflow well above the top.
      if (IsLake()) {
        q = RuleValueAboveTop(rule_, blend, v);
        if (VolumeToLevel(v) > overflow_level) q = std::max(q, inflow);
      } else {
        q = inflow;
      }
    } else if (open) {
      q = RuleValue(rule_, blend, x);
    }
    if (cap > 0.0) q = std::min(q, cap);
    if (advance) {
      v -= d * q;
      if (v < 0.0) {
        q += v / d;
        v = 0.0;
      }
    }
    for (size_t a = 0; a < draws.size(); ++a) {
      const double rule_volume = averaging ? x : v;
      const double most = std::max(0.0, v - kKeptShareOfRuleVolume * rule_volume);
      const double taken = std::clamp(draws[a]->TimedRate(rule_volume) * d, 0.0, most);
      withdrawals_[a] += taken;
      v -= taken;
    }
    sum += std::max(0.0, q);
  }
  return sum / substeps_;
}

double SP_class::ConnectionOutflow(const flow_arrays& /*flows*/, const std::vector<AL_class*>& draws,
                                   double inflow, const model_date& /*date*/) {
  const reservoir_entry& target = reservoirs_->at(connection_.target);
  const double target_level = *target.level;
  const double d = substep_seconds_;
  const double bottom = connection_.bottom;
  double w = level;
  double v = volume;
  double sum = 0.0;
  for (int i = 0; i < substeps_; ++i) {
    const double entering = d * inflow;
    if (area > 0.0) w += entering / area;
    const double start = w;
    double q =
        ConnectionFlow(w, target_level, bottom, connection_.length, connection_.width, connection_.roughness);
    if (area > 0.0) {
      w -= q * d / area;
      if (w < bottom && start > bottom) {
        q -= area * (bottom - w) / d;
        w = bottom;
      }
    }
    v += entering - q * d;
    if (v < 0.0) {
      q += v / d;
      v = 0.0;
    }
    for (size_t a = 0; a < draws.size(); ++a) {
      const double taken = std::clamp(draws[a]->TimedRate(v) * d, 0.0, v);
      withdrawals_[a] += taken;
      v -= taken;
    }
    sum += q;
  }
  double mean = sum / substeps_;
  // Water flowing back can only come from what the other reservoir holds.
  const double seconds = context_.dt * kSecondsPerMinute;
  if (mean < 0.0 && -mean * seconds > *target.volume) mean = -*target.volume / seconds;
  return mean;
}

// ============================================================== state file

namespace {

std::string VolumeLabel(int index) { return "(reservoir " + std::to_string(index) + ")"; }
std::string RunningAverageLabel(int index) {
  return "(useRunningAvg reservoir " + std::to_string(index) + ")";
}
constexpr const char* kRunningAverageKey = "useRunningAvg";

}  // namespace

void SP_class::WriteState(std::FILE* file, int index) const {
  PutStateValue(file, volume, " ");
  std::fprintf(file, " %s\n", VolumeLabel(index).c_str());
  std::fprintf(file, "%d %s\n", part_.running_average_hours, RunningAverageLabel(index).c_str());
  if (part_.running_average_hours <= 0) return;
  for (double v : running_average) PutStateValue(file, v, " ");
  std::fputc('\n', file);
}

std::string SP_class::ReadState(state_file_reader& reader, int index) {
  double stored = 0.0;
  if (!reader.ReadDouble(stored) || stored < 0.0) return "no volume of 0 or more";
  std::string rest;
  if (!reader.ReadLabel(VolumeLabel(index), rest))
    return "the line ends in \"" + rest + "\", not in \"" + VolumeLabel(index) + "\"";
  volume = stored;
  // The volumes of the running average belong to the stored state too.
  running_average.clear();
  if (IsLake()) {
    area = SetLevelFromVolume(volume) * cell_area_;
  } else if (part_.area > 0.0) {
    level = part_.level + (volume - part_.initial_volume) / part_.area;
  }

  std::string line;
  if (!reader.PeekLine(line) || line.find(kRunningAverageKey) == std::string::npos) return {};
  int length = 0;
  if (!reader.ReadInt(length) || !reader.ReadLabel(RunningAverageLabel(index), rest))
    return "its running-average line \"" + line + "\" is not \"<length> " + RunningAverageLabel(index) + "\"";
  if (length <= 0) return {};
  // The volumes of the list; the current length keeps the latest.
  reader.ReadLine(line);
  const char* at = line.data();
  const char* end = at + line.size();
  while (at < end) {
    while (at < end && (*at == ' ' || *at == '\t')) ++at;
    double v = 0.0;
    const auto result = std::from_chars(at, end, v);
    if (result.ec != std::errc{} || !std::isfinite(v)) break;
    running_average.push_back(v);
    at = result.ptr;
  }
  while (running_average.size() > static_cast<size_t>(RunningAverageLength())) running_average.pop_front();
  return {};
}

// ============================================================== result table

void SP_class::AddResultRow(const model_date& date) {
  if (static_cast<int>(rows_.size() / kResultRowValues) >= row_capacity_) FlushResults(1);
  rows_.insert(rows_.end(), {static_cast<double>(date.year), static_cast<double>(date.month),
                             static_cast<double>(date.day), static_cast<double>(date.hour),
                             static_cast<double>(date.minute), level, area, volume});
  for (const balance_value& term : terms_) rows_.insert(rows_.end(), {term.volume, term.depth, term.rate});
}

void SP_class::FlushResults(int flag) {
  if (flag <= 0 || rows_.empty()) return;
  FlushResultRows(*context_.messages, result_path_, rows_, kResultRowValues, minute_column_);
}

}  // namespace velmo
