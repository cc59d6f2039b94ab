// Routing element: channel rows, basin area check, w-q table files and the routing step.
#include "routing/reach.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "framework/diagnostics.h"
#include "physics/units.h"

namespace velmo {
namespace {

constexpr const char* kElementName = "routingmodel";
// An outlet area further than this from the zone grid's is reported (km2).
constexpr double kAreaTolerance = 0.001;
constexpr int kAllocationErrorCode = 1;
constexpr int kTableRuleWidth = 79;

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Largest of values[1..count].
double MaxOf(const double* values, int count) {
  double largest = values[1];
  for (int i = 2; i <= count; ++i) largest = std::max(largest, values[i]);
  return largest;
}

}  // namespace

void flow_arrays::Allocate(int position_count, int extra, int subinterval_count) {
  positions = position_count;
  subintervals = subinterval_count;
  step.assign(static_cast<size_t>(position_count) + extra + 1, 0.0);
  subinterval.assign((static_cast<size_t>(position_count) + 1) * (subinterval_count + 1), 0.0);
}

routingclass::routingclass(MessageStream* stream, const reach_context& context, int outlet_code, double area,
                           double divisor)
    : modelobject(stream, ""), context_(context), outlet_code_(outlet_code), area_(area), divisor_(divisor) {
  name = kElementName;
  outlet_position_ = context_.code_map[outlet_code];
  // Every element has outlet sums, also one without channels.
  outlet_.assign(static_cast<size_t>(context_.subintervals) + 1, 0.0);
  channel_.assign(static_cast<size_t>(context_.subintervals) + 1, 0.0);
}

void routingclass::SetUpChannel(channel_kind kind, int code, const std::vector<int>& joined,
                                const channel_values& values, const wq_settings& settings,
                                bool observed_substitution) {
  channel_row row;
  row.kind = kind;
  row.code = code;
  row.position = kind == channel_kind::inflow ? context_.zone_count + code : context_.code_map[code];
  if (kind == channel_kind::summed) {
    row.joined = joined;
    for (int c : joined) row.joined_positions.push_back(context_.code_map[c]);
  }
  row.values = values;
  row.settings = settings;
  row.observed_substitution = observed_substitution;
  row.table = BuildWqTable(values, settings, context_.dt, kind == channel_kind::inflow ? 1.0 : divisor_);
  if (row.table.oversized) {
    *messages << "FATAL: the channel of " << (kind == channel_kind::inflow ? "inflow " : "subbasin ") << code
              << " to the outlet of subbasin " << outlet_code_ << " would need more than "
              << static_cast<long long>(kMaxStorageElements) << " storage elements (flow time "
              << row.table.t[1]
              << " h at the lowest discharge);\ncheck its length, slope and Manning coefficients, and the "
                 "w-q line of [routing_model]: qmin "
              << settings.qmin << ", qmax " << settings.qmax << ", " << settings.intervals << " intervals, "
              << settings.subintervals << " sub-intervals"
              << "[end-entry]";
    throw ErrorCode{kAllocationErrorCode};
  }
  row.recession_main = RecessionFactor(values.storage_main);
  row.recession_flood = RecessionFactor(values.storage_flood);

  const int c = row.table.sub_channels;
  const int s = settings.subintervals;
  row.delay_line.assign(static_cast<size_t>(row.table.storage_elements) + s + 1, 0.0);
  row.segment_end.assign(static_cast<size_t>(c) + 2, 0);
  row.compensation.assign(static_cast<size_t>(c) + 2, 0.0);
  row.outflow.assign((static_cast<size_t>(c) + 2) * (s + 2), 0.0);
  row.outflow_share.assign(static_cast<size_t>(c) + 2, 0.0);
  rows_.push_back(std::move(row));
}

void routingclass::InitInflow(int inflow_number, inflow_mode mode, double discharge, const std::string& file,
                              int start_row, int column, const model_date& start) {
  channel_row& row = rows_.back();
  row.inflow_number = inflow_number;
  row.mode = mode;
  row.inflow = discharge;
  if (mode != inflow_mode::external) return;

  const int index = static_cast<int>(std::count_if(
      rows_.begin(), rows_.end(), [](const channel_row& r) { return r.kind == channel_kind::inflow; }));
  external_inflow inflow;
  inflow.row = static_cast<int>(rows_.size()) - 1;
  inflow.index = index;
  if (!inflow.table.Open(file)) {
    *messages << "FATAL: error opening " << file << " for inflow " << index << "[end-entry]";
    throw ErrorCode{kInflowOpenErrorCode};
  }
  constexpr int kTracers = 0;
  switch (inflow.table.FindStart(start_row, start, column, kTracers)) {
    case inflow_table::start_result::found:
      break;
    case inflow_table::start_result::row_not_reached:
      *messages << "FATAL: error searching in " << file << " for row " << start_row
                << "\nactual reached row: " << inflow.table.RowsReached() << "[end-entry]";
      throw ErrorCode{kInflowStartErrorCode};
    case inflow_table::start_result::date_not_found:
      *messages << "FATAL: starting date " << start.day << "." << start.month << "." << start.year << ", "
                << start.hour << ":" << start.minute << " h in " << file << " not found ("
                << "search started at row " << start_row << ")"
                << "[end-entry]";
      throw ErrorCode{kInflowStartErrorCode};
    case inflow_table::start_result::too_few_columns:
      *messages << "FATAL: there is not the required number of columns in " << file << " for reading ZL["
                << index << "] and the follwoing " << kTracers << " tracer values starting from column "
                << column << "[end-entry]";
      throw ErrorCode{kInflowStartErrorCode};
  }
  // The start row is also the inflow the channels start from.
  row.inflow = inflow.table.Discharge();
  external_.push_back(std::move(inflow));
}

void routingclass::ReadExternalInflows(int year, int month, int day, int hour, int minute) {
  flow_arrays& flows = *context_.flows;
  for (external_inflow& inflow : external_) {
    inflow_table& table = inflow.table;
    if (table.Ended()) {
      *messages << "FATAL: error reading from " << table.FileName() << " (or from its buffer) for inflow "
                << inflow.index;
      if (table.Unreadable())
        *messages << "\nrow " << table.RowsReached() + 1 << " cannot be read!";
      else
        *messages << "\nreached end of file!";
      *messages << "[end-entry]";
      throw ErrorCode{kInflowEndErrorCode};
    }
    const model_date read = table.CurrentDate();
    if (read.year != year || read.month != month || read.day != day || read.hour != hour ||
        read.minute != minute) {
      *messages << "FATAL: error comparing dates in " << table.FileName() << ":\n     read: " << read.year
                << "." << read.month << "." << read.day << ", " << read.hour << ":" << read.minute
                << " h,\nshould be: " << year << "." << month << "." << day << ", " << hour << ":" << minute
                << " h.\n"
                << "[end-entry]";
      throw ErrorCode{kInflowDateErrorCode};
    }
    const channel_row& row = rows_[static_cast<size_t>(inflow.row)];
    flows.step[static_cast<size_t>(row.position)] =
        DischargeToDepth(table.Discharge(), row.values.area, context_.dt);
    table.Advance();
  }
}

void routingclass::CheckBasinArea() {
  std::vector<double>& fraction = context_.areas->fraction;
  std::vector<double>& divisor = context_.areas->divisor;
  const auto f = [&](int position) { return fraction[static_cast<size_t>(position)]; };

  outlet_weight_ = f(outlet_position_);
  double sum = outlet_weight_;
  for (channel_row& row : rows_) {
    switch (row.kind) {
      case channel_kind::tributary:
        row.weight = row.position == outlet_position_ ? 0.0 : f(row.position);
        break;
      case channel_kind::summed:
        row.weight = f(row.position);
        for (int p : row.joined_positions) row.weight += f(p);
        break;
      case channel_kind::inflow:
        continue;
    }
    sum += row.weight;
  }
  outlet_weight_ = outlet_weight_ / sum * divisor_;
  for (channel_row& row : rows_)
    if (row.kind != channel_kind::inflow) row.weight = row.weight / sum * divisor_;

  fraction[static_cast<size_t>(outlet_position_)] = sum;
  divisor[static_cast<size_t>(outlet_position_)] = divisor_;
  const double total_area = fraction[0];
  if (total_area > 0.0) {
    const double grid_area = sum * total_area;
    if (std::fabs(area_ - grid_area) > kAreaTolerance) {
      *messages << "INFO: Basin " << outlet_code_ << ": area in contr.file: " << area_ << " <-> zone-grid "
                << grid_area << " (adjusted to the latter)"
                << "[end-entry]";
    }
    // Thresholds and maxima keep their discharges over the new area.
    for (const auto& abstraction : abstractions_) abstraction->RescaleArea(grid_area);
    area_ = grid_area;
  }
}

void routingclass::SetAblaufModus(const abstraction_part& part) {
  const abstraction_context context{messages,
                                    outlet_code_,
                                    area_,
                                    divisor_,
                                    context_.dt,
                                    context_.output_directory,
                                    context_.interval_end_shift,
                                    context_.start};
  auto abstraction = std::make_unique<AL_class>(context, part);
  abstraction->Open();
  if (abstraction->DrawsFromReservoir()) draws_.push_back(abstraction.get());
  abstractions_.push_back(std::move(abstraction));
}

void routingclass::SetSpeicherParams(const reservoir_part& part) {
  const reservoir_context context{messages,
                                  outlet_code_,
                                  context_.dt,
                                  context_.output_directory,
                                  context_.interval_end_shift,
                                  context_.lake,
                                  context_.lake_volume_from_ponding};
  auto reservoir = std::make_unique<SP_class>(context, part);
  reservoir->SetUp();
  reservoirs_.push_back(std::move(reservoir));
}

void routingclass::ReadReservoirRules(const control_lines& control) {
  for (const auto& reservoir : reservoirs_) reservoir->ReadRules(control);
}

void routingclass::SetReservoirMap(reservoir_map& map) {
  for (const auto& reservoir : reservoirs_) reservoir->RegisterReservoir(map);
}

void routingclass::SetConnectionFlagMap(connection_flags& flags) {
  connection_flags_ = &flags;
  if (!reservoirs_.empty()) flags[static_cast<size_t>(outlet_position_)] = reservoirs_.back()->Connected();
}

void routingclass::CheckReservoirConnections(const reservoir_map& map) const {
  for (const auto& reservoir : reservoirs_) reservoir->CheckConnection(map);
}

void routingclass::InitReservoirOutflows() {
  for (const auto& reservoir : reservoirs_) reservoir->InitOutflow(*context_.flows, context_.start);
}

void routingclass::ReadAbstractionRules(const control_lines& control) {
  for (const auto& abstraction : abstractions_) abstraction->ReadRules(control);
}

void routingclass::CollectReservoirs(std::vector<SP_class*>& list) const {
  for (const auto& reservoir : reservoirs_) list.push_back(reservoir.get());
}

void routingclass::FlushResults() {
  for (const auto& abstraction : abstractions_) abstraction->FlushResults(1);
  for (const auto& reservoir : reservoirs_) reservoir->FlushResults(1);
}

void routingclass::WriteWqTables() {
  for (const channel_row& row : rows_) WriteWqTable(row);
}

void routingclass::WriteWqTable(const channel_row& row) const {
  char file_name[64];
  if (row.kind == channel_kind::inflow)
    std::snprintf(file_name, sizeof file_name, "wq_tabZL.%.3d", row.code);
  else
    std::snprintf(file_name, sizeof file_name, "wq_table.%.3d", row.position);
  std::unique_ptr<std::FILE, file_closer> file(std::fopen(file_name, "w"));
  if (!file) {
    *messages << "WARNING: error opening file " << file_name << " (check user rights or disk space)"
              << "[end-entry]";
    return;
  }
  std::FILE* f = file.get();
  switch (row.kind) {
    case channel_kind::tributary:
      std::fprintf(f,
                   "waterlevel-discharge-table for the channel of subbasin %d to the outlet of subbasin %d\n",
                   row.code, outlet_code_);
      break;
    case channel_kind::inflow:
      std::fprintf(f,
                   "waterlevel-discharge-table for the channel of inflow %d to the outlet of subbasin %d\n",
                   row.code, outlet_code_);
      break;
    case channel_kind::summed:
      std::fprintf(f, "waterlevel-discharge-table for the channel of subbasins %d", row.code);
      for (size_t i = 0; i + 1 < row.joined.size(); ++i) std::fprintf(f, ", %d", row.joined[i]);
      if (!row.joined.empty()) std::fprintf(f, " and %d", row.joined.back());
      std::fprintf(f, " to the outlet of subbasin %d\n", outlet_code_);
      break;
  }
  const channel_values& v = row.values;
  const wq_table& t = row.table;
  std::fprintf(f, "input parameters from the control file:\n");
  std::fprintf(f, "------------------------------------------\n");
  std::fprintf(f, "storage constant mean channel [h] : %7.2f\n", StorageConstant(row.recession_main));
  std::fprintf(f, "storage constant flood plain [h]  : %7.2f\n", StorageConstant(row.recession_flood));
  std::fprintf(f, "width of the mean channel [m]     : %7.2f\n", v.width_main);
  std::fprintf(f, "width of flood plains  [m]        : %7.2f\n", v.width_flood);
  std::fprintf(f, "depth of mean channel  [m]        : %7.2f\n", v.depth_main);
  std::fprintf(f, "Manning-coef. mean chan[m^(1/3)/s]: %7.2f\n", v.manning_main);
  std::fprintf(f, "Manning-ceof. flood pl.[m^(1/3)/s]: %7.2f\n", v.manning_flood);
  std::fprintf(f, "slope angle            [1/1]      : %7.4f\n", v.slope_root * v.slope_root);
  std::fprintf(f, "channel length         [m]        : %7.1f\n", v.length);
  std::fprintf(f, "catchment area         [km^2]     : %7.2f\n", v.area);
  std::fprintf(f, "min. spec. discharge   [l/s/km^2] : %7.1f\n", row.settings.qmin);
  std::fprintf(f, "max. spec. discharge   [l/s/km^2] : %7.1f\n", row.settings.qmax);
  std::fprintf(f, "intervals for w-q-table[-]        : %7.0f\n", row.settings.intervals + 1.0);
  std::fprintf(f, "sub-intervals (time)   [-]        : %7d  \n", row.settings.subintervals);
  std::fprintf(f, "number of sub-channels            : %7.0f\n", static_cast<double>(t.sub_channels));
  std::fprintf(f, "total number of storage elements  : %7d  \n",
               t.storage_elements + row.settings.subintervals);
  const std::string rule(kTableRuleWidth, '-');
  std::fprintf(f, "%s\n", rule.c_str());
  std::fprintf(f, "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qm/Q \n");
  std::fprintf(f, "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n");
  std::fprintf(f, "%s\n", rule.c_str());
  for (int j = 1; j <= t.classes; ++j) {
    std::fprintf(f, "%3d  %5.3f %6.1f %7.2f  %5.2f %5.2f %5.2f  %5.2f  %5.2f  %5.2f  %3d   %5.3f\n", j,
                 t.q_mm[j], t.q_ls[j], t.Q[j], t.dm[j], t.df[j], t.v[j], t.vm[j], t.vf[j], t.t[j], t.delay[j],
                 t.share[j]);
  }
}

double routingclass::SourceValue(const channel_row& row, int position, double value) const {
  if (!row.observed_substitution || !observed_ || !column_map_ || position > context_.zone_count ||
      !observed_->HasRecord())
    return value;
  const int column = (*column_map_)[static_cast<size_t>(position)];
  if (column <= 0) return value;
  const double observed = observed_->StepValue(column);
  if (!(observed > context_.nodata_value)) return value;
  // A discharge in m3/s enters as the depth per step that the routing writes
  // as that discharge at the position.
  if (context_.output_unit && *context_.output_unit == kDischargeOutputUnit)
    return DischargeToDepth(observed, context_.areas->PositionArea(position), context_.dt);
  return observed;
}

void routingclass::InitFlowArrays(const observed_values* observed, const std::vector<int>* column_map) {
  observed_ = observed;
  column_map_ = column_map;
  flow_arrays& flows = *context_.flows;
  for (const channel_row& row : rows_) {
    if (row.kind == channel_kind::inflow)
      flows.step[static_cast<size_t>(row.position)] =
          DischargeToDepth(row.inflow, row.values.area, context_.dt);
  }
  for (channel_row& row : rows_) {
    const double value = SourceValue(row, row.position, flows.step[static_cast<size_t>(row.position)]);
    std::fill(row.delay_line.begin() + 1, row.delay_line.end(), value);
    row.joined_delay_lines.clear();
    for (int p : row.joined_positions) {
      const double joined = SourceValue(row, p, flows.step[static_cast<size_t>(p)]);
      std::vector<double>& line = row.joined_delay_lines.emplace_back(row.delay_line.size(), joined);
      line[0] = 0.0;
    }
  }
}

void routingclass::InitChannelStorages() {
  const flow_arrays& flows = *context_.flows;
  for (channel_row& row : rows_) {
    const double depth = flows.step[static_cast<size_t>(row.position)];
    const int c = velmo::ClassIndex(row.table, depth);
    const int length = row.SegmentLength();
    for (int k = 1; k <= row.table.sub_channels; ++k) {
      for (int j = 1; j <= row.settings.subintervals; ++j) row.Outflow(k, j) = depth;
      row.outflow_share[static_cast<size_t>(k)] = 0.0;
      row.segment_end[static_cast<size_t>(k)] =
          (k - 1) * length + row.table.delay[c] + row.settings.subintervals;
    }
  }
}

// Sub-channels C down to 1, each a translation by the delay of the class of
// its input followed by the two linear storages; channel_ holds the input of
// the channel on entry and its output on return.
void routingclass::RouteChannel(channel_row& row) {
  const wq_table& table = row.table;
  const int s_count = row.settings.subintervals;
  const int length = row.SegmentLength();
  double* h = row.delay_line.data();
  double* in = channel_.data();
  for (int k = table.sub_channels; k >= 1; --k) {
    const int base = (k - 1) * length;
    const int delay = table.delay[velmo::ClassIndex(table, MaxOf(in, s_count))];
    const int end = delay + base + 1 + s_count;
    const int old = row.segment_end[static_cast<size_t>(k)];
    double& compensation = row.compensation[static_cast<size_t>(k)];
    if (old + 1 < end) {
      // A longer delay: the gap is filled from the compensation volume.
      const double fill = std::min(h[old], in[1]);
      compensation -= (end - old - 1) * fill;
      for (int i = old + 1; i < end; ++i) h[i] = fill;
    }
    for (int j = end; j < end + s_count; ++j) {
      const double x = in[j - end + 1];
      // A shorter delay: water still in the line goes to the compensation volume.
      if (j <= old) compensation += std::min(h[j], x);
      h[j] = x;
    }
    std::memmove(h + base + 1, h + base + 1 + s_count, static_cast<size_t>(length) * sizeof(double));
    row.segment_end[static_cast<size_t>(k)] = end - 1;

    const double share = table.share[velmo::ClassIndex(table, MaxOf(h + base, s_count))];
    double& previous_share = row.outflow_share[static_cast<size_t>(k)];
    for (int j = 1; j <= s_count; ++j) {
      double& previous = row.Outflow(k, j);
      previous = LinearStoreOutflow(h[base + j], share, previous, previous_share, row.recession_main,
                                    row.recession_flood);
      in[j] = previous;
    }
    previous_share = share;
  }
}

void routingclass::RouteStep(int year, int month, int day, int hour, int minute) {
  flow_arrays& flows = *context_.flows;
  const std::vector<double>& fraction = context_.areas->fraction;
  const std::vector<double>& divisor = context_.areas->divisor;
  const int s_count = context_.subintervals;
  double* outlet = flows.Sub(outlet_position_);
  for (int s = 1; s <= s_count; ++s) outlet_[static_cast<size_t>(s)] = outlet[s] * outlet_weight_;

  for (channel_row& row : rows_) {
    double* source = flows.Sub(row.position);
    if (row.kind == channel_kind::summed) {
      // The joined outflows, each weighted by its area, share one channel.
      double weights = 0.0;
      for (int p : row.joined_positions)
        weights += fraction[static_cast<size_t>(p)] / divisor[static_cast<size_t>(p)];
      weights += fraction[static_cast<size_t>(row.position)] / divisor[static_cast<size_t>(row.position)];
      for (int s = 1; s <= s_count; ++s) {
        double sum = 0.0;
        for (int p : row.joined_positions)
          sum += fraction[static_cast<size_t>(p)] / divisor[static_cast<size_t>(p)] *
                 SourceValue(row, p, flows.Sub(p)[s]);
        sum += fraction[static_cast<size_t>(row.position)] / divisor[static_cast<size_t>(row.position)] *
               SourceValue(row, row.position, source[s]);
        source[s] = sum / weights;
      }
      row.summed_weight = weights;
    }
    if (row.kind == channel_kind::inflow && row.mode == inflow_mode::internal) {
      // An abstraction delivered a discharge; the channel takes a depth.
      for (int s = 1; s <= s_count; ++s)
        source[s] = DischargeToDepth(source[s], row.values.area, context_.dt);
    }
    for (int s = 1; s <= s_count; ++s)
      channel_[static_cast<size_t>(s)] = SourceValue(row, row.position, source[s]);

    if (row.position <= context_.zone_count && connection_flags_ &&
        (*connection_flags_)[static_cast<size_t>(row.position)]) {
      // The flow of the hydraulic connection of the reservoir at the source
      // stands for this channel: it passes its input on unchanged.
      for (int s = 1; s <= s_count; ++s)
        row.delay_line[static_cast<size_t>(s)] = channel_[static_cast<size_t>(s)];
    } else {
      RouteChannel(row);
    }

    double factor = 0.0;
    switch (row.kind) {
      case channel_kind::inflow:
        factor = row.values.area / area_ * divisor_;
        break;
      case channel_kind::summed:
        factor = divisor_ / fraction[static_cast<size_t>(outlet_position_)] * row.summed_weight;
        break;
      case channel_kind::tributary:
        factor = row.weight / divisor[static_cast<size_t>(row.position)];
        break;
    }
    for (int s = 1; s <= s_count; ++s)
      outlet_[static_cast<size_t>(s)] += channel_[static_cast<size_t>(s)] * factor;
  }

  double total = 0.0;
  for (int s = 1; s <= s_count; ++s) {
    outlet[s] = outlet_[static_cast<size_t>(s)];
    total += outlet_[static_cast<size_t>(s)];
  }
  flows.step[static_cast<size_t>(outlet_position_)] = total / s_count;

  const model_date date{minute, hour, day, month, year};
  Abstract(date);
  if (!reservoirs_.empty()) PassReservoirs(date);
}

void routingclass::Deliver(const AL_class& abstraction, double discharge) {
  if (!abstraction.Connected()) return;
  flow_arrays& flows = *context_.flows;
  const int position = context_.zone_count + abstraction.Number();
  double* sub = flows.Sub(position);
  std::fill(sub + 1, sub + context_.subintervals + 1, discharge);
  flows.step[static_cast<size_t>(position)] = discharge;
}

// The abstractions in order, each from what the earlier ones left: from the
// outlet, or, with reservoirs, from the last reservoir's volume, which then
// gives up what they took in its balance.
void routingclass::Abstract(const model_date& date) {
  abstracted_ = 0.0;
  if (abstractions_.empty()) return;
  flow_arrays& flows = *context_.flows;
  const double area = OutletArea();
  const double seconds = context_.dt * kSecondsPerMinute;
  double& outlet_depth = flows.step[static_cast<size_t>(outlet_position_)];
  double* outlet = flows.Sub(outlet_position_);
  const double base = reservoirs_.empty() ? outlet_depth : VolumeToDepth(reservoirs_.back()->volume, area);
  for (const auto& abstraction : abstractions_) {
    if (abstraction->DrawsFromReservoir()) continue;
    const double depth = abstraction->Abstract(flows, abstracted_, base, date);
    const double discharge = DepthToVolume(depth, area) / seconds;
    abstraction->discharge = discharge;
    abstraction->AddResultRow(date, discharge);
    if (reservoirs_.empty()) {
      outlet_depth -= depth;
      for (int s = 1; s <= context_.subintervals; ++s) outlet[s] -= depth;
    }
    if (abstraction->Internal()) Deliver(*abstraction, discharge);
  }
}

// The reservoirs in series on the outlet's flow.
void routingclass::PassReservoirs(const model_date& date) {
  flow_arrays& flows = *context_.flows;
  const double area = OutletArea();
  const double seconds = context_.dt * kSecondsPerMinute;
  double& outlet_depth = flows.step[static_cast<size_t>(outlet_position_)];
  double* outlet = flows.Sub(outlet_position_);
  const std::vector<AL_class*> none;
  for (size_t j = 0; j < reservoirs_.size(); ++j) {
    SP_class& reservoir = *reservoirs_[j];
    const bool last = j + 1 == reservoirs_.size();
    const double inflow = DepthToVolume(outlet_depth, area) / seconds;
    const double taken = last ? DepthToVolume(abstracted_, area) : 0.0;
    reservoir.Balance(0.0, taken, flows, inflow, last ? draws_ : none, date);
    if (last)
      for (const AL_class* draw : draws_) Deliver(*draw, draw->discharge);
    outlet_depth = VolumeToDepth(reservoir.outflow * seconds, area);
    std::fill(outlet + 1, outlet + context_.subintervals + 1, outlet_depth);
    if (date.month > 0) reservoir.AddResultRow(date);
  }
}

double routingclass::CompensationVolume() const {
  const area_table& areas = *context_.areas;
  double volume = 0.0;
  for (const channel_row& row : rows_) {
    // A row's depths lie over the area its water comes from; a sub-interval
    // is 1/S of a step.
    double area = row.values.area;
    if (row.kind != channel_kind::inflow) {
      area = areas.PositionArea(row.position);
      for (int p : row.joined_positions) area += areas.PositionArea(p);
    }
    double depth = 0.0;
    for (int k = 1; k <= row.table.sub_channels; ++k)
      depth += row.compensation[static_cast<size_t>(k)] / row.settings.subintervals;
    volume += DepthToVolume(depth, area);
  }
  return volume;
}

int routingclass::MaxStorageElements(int current) const {
  for (const channel_row& row : rows_) current = std::max(current, row.table.storage_elements);
  return current;
}

int routingclass::LargestLowFlowHours() const {
  int hours = 0;
  constexpr double kMostHours = 1e9;
  for (const channel_row& row : rows_)
    hours = std::max(hours, static_cast<int>(std::min(std::floor(row.table.t[1]), kMostHours)));
  return hours;
}

void routingclass::CleanUp() {
  *messages << " free memory TG " << outlet_code_;
  int number = 0;
  bool inflows = false;
  for (const channel_row& row : rows_) {
    ++number;
    if (row.kind == channel_kind::inflow) {
      *messages << ", (only ZL's)";
      inflows = true;
      continue;
    }
    *messages << ", OL " << number << " (Subb. " << row.code;
    for (int code : row.joined) *messages << ", " << code;
    *messages << ")";
  }
  if (inflows) {
    *messages << ", --> ZLs...";
    for (const channel_row& row : rows_)
      if (row.kind == channel_kind::inflow) *messages << " " << row.inflow_number << ",";
  }
  if (!abstractions_.empty()) {
    *messages << ", --> ALs...";
    for (const auto& abstraction : abstractions_) *messages << " " << abstraction->Number() << ",";
  }
  if (!reservoirs_.empty()) {
    *messages << ", --> SPs...";
    for (size_t j = 1; j <= reservoirs_.size(); ++j) *messages << " " << j << " ";
  }
  *messages << " Rest..."
            << " ok"
            << "[end-entry]";
  FlushResults();
  draws_.clear();
  abstractions_.clear();
  reservoirs_.clear();
  rows_.clear();
  modelobject::CleanUp();
}

}  // namespace velmo
