// Routing element: its part of the routing block of the state file (delay lines and storages), written and
// read back.
#include <cmath>
#include <string>

#include "framework/diagnostics.h"
#include "routing/reach.h"
#include "setup/statefile.h"

namespace velmo {
namespace {

// Only water travels through the channels; its tracer index is 0.
constexpr int kWaterIndex = 0;

// Sub-channels from..to (from 1) of the current channel that take stored
// sub-channel d of `stored` when the channel has `current` of them.
struct sub_channel_range {
  int first;
  int last;
};
sub_channel_range MappedSubChannels(int d, int current, int stored) {
  const long long c = current;
  return {static_cast<int>((d - 1) * c / stored) + 1, static_cast<int>(d * c / stored)};
}

// The labels that end the lines of an element's block, as written and as
// checked when read.
constexpr const char* kTributaryKind = "tributary subbasin";
constexpr const char* kInflowKind = "external inflow";
constexpr const char* kTributaryRows = "local tributary";
constexpr const char* kInflowRows = "inflow";
constexpr const char* kReservoirCountLabel = "(number of reservoirs)";

std::string OutletLabel(const std::vector<channel_row>& rows) {
  std::string label = "(routing subbasin with tributaries";
  for (const channel_row& row : rows)
    if (row.kind == channel_kind::tributary) label += " " + std::to_string(row.code);
  return label + ")";
}
std::string PositionLabel(const char* kind) {
  return std::string("(tracer/flow index and ") + kind + ", subint, maxdelta, num-subchannels)";
}
std::string OutflowLabel(const char* rows, int number, int sub_channel, int subintervals) {
  return "(wqtab[" + std::string(rows) + " " + std::to_string(number) + "].Qaus[subchannel " +
         std::to_string(sub_channel) + "][1.." + std::to_string(subintervals) + "])";
}
std::string ShareLabel(const char* rows, int number, int sub_channel) {
  return "(wqtab[" + std::string(rows) + " " + std::to_string(number) + "].qvzuq[subchannel " +
         std::to_string(sub_channel) + "])";
}

}  // namespace

// ---------------------------------------------------------------- writing

void routingclass::WritePosition(std::FILE* file, const channel_row& row, int position,
                                 const std::vector<double>& line, const char* separator,
                                 const char* kind) const {
  const int s_count = row.settings.subintervals;
  const int length = row.SegmentLength();
  std::fprintf(file, "\n%d %d %d %d %.0f %s\n", kWaterIndex, position, s_count, row.table.max_delay,
               static_cast<double>(row.table.sub_channels), PositionLabel(kind).c_str());
  const int entries = static_cast<int>(line.size()) - 1;
  for (int e = 1; e <= entries; ++e) {
    PutStateValue(file, line[static_cast<size_t>(e)], separator);
    if (e == s_count || (e > s_count && (e - s_count) % length == 0)) std::fputc('\n', file);
  }
  std::fputc('\n', file);
}

void routingclass::WriteStorages(std::FILE* file, const channel_row& row, const char* label,
                                 int number) const {
  const int s_count = row.settings.subintervals;
  for (int k = 1; k <= row.table.sub_channels; ++k) {
    for (int j = 1; j <= s_count; ++j) PutStateValue(file, row.Outflow(k, j), " ");
    std::fprintf(file, " %s\n", OutflowLabel(label, number, k, s_count).c_str());
    PutStateValue(file, row.outflow_share[static_cast<size_t>(k)]);
    std::fprintf(file, " %s\n", ShareLabel(label, number, k).c_str());
  }
}

void routingclass::WriteState(std::FILE* file) const {
  std::fprintf(file, "%d %s\n", outlet_code_, OutletLabel(rows_).c_str());

  // Tributary and summed rows come first in the rows, numbered from 1.
  int number = 0;
  for (const channel_row& row : rows_) {
    if (row.kind == channel_kind::inflow) continue;
    ++number;
    for (size_t j = 0; j < row.joined_positions.size(); ++j) {
      WritePosition(file, row, row.joined_positions[j], row.joined_delay_lines[j], " ", kTributaryKind);
      WriteStorages(file, row, kTributaryRows, number);
    }
    WritePosition(file, row, row.position, row.delay_line, "\t", kTributaryKind);
    WriteStorages(file, row, kTributaryRows, number);
  }
  int inflow = 0;
  for (const channel_row& row : rows_) {
    if (row.kind != channel_kind::inflow) continue;
    ++inflow;
    WritePosition(file, row, row.position, row.delay_line, " ", kInflowKind);
    WriteStorages(file, row, kInflowRows, inflow);
  }
  std::fprintf(file, "%d %s\n", ReservoirCount(), kReservoirCountLabel);
  for (int j = 1; j <= ReservoirCount(); ++j) Reservoir(j).WriteState(file, j);
  std::fprintf(file, "\n\n");
}

// ---------------------------------------------------------------- reading

void routingclass::RaiseStateError(const std::string& text, const state_file_reader& reader) const {
  RaiseStateError(text, reader.Line());
}

void routingclass::RaiseStateError(const std::string& text, int line) const {
  *messages << "FATAL: " << text << " in file " << state_file_name_ << " (position " << line << ")"
            << "[end-entry]";
  throw ErrorCode{kStateContentErrorCode};
}

void routingclass::ReadLabel(state_file_reader& reader, const std::string& label,
                             const std::string& what) const {
  const int line = reader.Line();
  std::string rest;
  if (!reader.ReadLabel(label, rest))
    RaiseStateError(what + ": the line ends in \"" + rest + "\", not in \"" + label + "\"", line);
}

void routingclass::ReadState(state_file_reader& reader, const std::string& file_name, double stored_step,
                             int format) {
  state_file_name_ = file_name;
  int code = 0;
  if (!reader.ReadInt(code) || code != outlet_code_) RaiseStateError("error reading subbasin code", reader);
  ReadLabel(reader, OutletLabel(rows_), "error reading subbasin code");

  int number = 0;
  for (channel_row& row : rows_) {
    if (row.kind == channel_kind::inflow) continue;
    const stored_rows rows{kTributaryKind, kTributaryRows, ++number};
    for (size_t j = 0; j < row.joined_positions.size(); ++j)
      ReadPosition(reader, row, row.joined_positions[j], row.joined_delay_lines[j], stored_step, format,
                   rows);
    ReadPosition(reader, row, row.position, row.delay_line, stored_step, format, rows);
  }
  int inflow = 0;
  for (channel_row& row : rows_)
    if (row.kind == channel_kind::inflow)
      ReadPosition(reader, row, row.position, row.delay_line, stored_step, format,
                   {kInflowKind, kInflowRows, ++inflow});

  int reservoirs = 0;
  if (!reader.ReadInt(reservoirs) || reservoirs != ReservoirCount())
    RaiseStateError("error reading reservoir code", reader);
  ReadLabel(reader, kReservoirCountLabel, "error reading reservoir code");
  for (int j = 1; j <= ReservoirCount(); ++j) {
    const int line = reader.Line();
    if (const std::string fault = Reservoir(j).ReadState(reader, j); !fault.empty())
      RaiseStateError("error reading the volume of reservoir " + std::to_string(j) + ": " + fault, line);
  }
}

void routingclass::ReadPosition(state_file_reader& reader, channel_row& row, int position,
                                std::vector<double>& line, double stored_step, int format,
                                const stored_rows& rows) {
  auto read_or_nothing = [&](int& value) {
    return reader.ReadInt(value) ? std::to_string(value) : "nothing";
  };
  int tracer = -1;
  const std::string tracer_text = read_or_nothing(tracer);
  if (tracer != kWaterIndex)
    RaiseStateError(
        "error reading tracer code (expected " + std::to_string(kWaterIndex) + ", read " + tracer_text + ")",
        reader);
  int stored_position = -1;
  const std::string position_text = read_or_nothing(stored_position);
  if (stored_position != position)
    RaiseStateError("error reading tributary index (expected " + std::to_string(position) + ", read " +
                        position_text + ")",
                    reader);

  const int s_count = row.settings.subintervals;
  const int channels = row.table.sub_channels;
  const std::string unreadable = "error reading the state of routing channel " + std::to_string(position);
  if (format == kStateFormatWithSizes) {
    int stored_subintervals = 0, stored_delay = 0, stored_channels = 0;
    if (!reader.ReadInt(stored_subintervals) || !reader.ReadInt(stored_delay) ||
        !reader.ReadInt(stored_channels) || stored_subintervals < 1 || stored_delay < 0 ||
        stored_channels < 1)
      RaiseStateError(
          "error reading routing_model_v2 extensions src_subint, src_maxdelta and src_numchannels "
          "for routing channel " +
              std::to_string(position),
          reader);
    ReadLabel(reader, PositionLabel(rows.kind), unreadable);
    if (stored_subintervals != s_count || stored_delay != row.table.max_delay ||
        stored_channels != channels) {
      ResampleStateValues(reader, row, position, line, stored_channels, stored_subintervals,
                          context_.dt / stored_step, rows);
      return;
    }
  } else {
    // The older block's line holds no sizes; its label is not checked.
    reader.SkipRestOfLine();
  }

  for (size_t e = 1; e < line.size(); ++e)
    if (!reader.ReadDouble(line[e])) RaiseStateError(unreadable, reader);
  for (int k = 1; k <= channels; ++k) {
    for (int j = 1; j <= s_count; ++j)
      if (!reader.ReadDouble(row.Outflow(k, j))) RaiseStateError(unreadable, reader);
    ReadLabel(reader, OutflowLabel(rows.label, rows.number, k, s_count), unreadable);
    if (!reader.ReadDouble(row.outflow_share[static_cast<size_t>(k)])) RaiseStateError(unreadable, reader);
    ReadLabel(reader, ShareLabel(rows.label, rows.number, k), unreadable);
  }
}

// A position written by a channel of other sizes: one value per stored
// sub-channel, taken from the first entry of its line of the delay line and
// of its outflows, fills the current sub-channels it maps to, scaled from the
// stored time step to the current one.
void routingclass::ResampleStateValues(state_file_reader& reader, channel_row& row, int position,
                                       std::vector<double>& line, int stored_channels,
                                       int stored_subintervals, double scale, const stored_rows& rows) {
  const int s_count = row.settings.subintervals;
  const int length = row.SegmentLength();
  const int channels = row.table.sub_channels;
  const std::string unreadable = "error reading the state of routing channel " + std::to_string(position);
  reader.SkipRestOfLine();  // entries 1..S of the stored line: the input of the step
  for (int d = 1; d <= stored_channels; ++d) {
    double value = 0.0;
    if (!reader.ReadDouble(value)) RaiseStateError(unreadable, reader);
    reader.SkipRestOfLine();
    const sub_channel_range range = MappedSubChannels(d, channels, stored_channels);
    for (int e = s_count + (range.first - 1) * length + 1; e <= s_count + range.last * length; ++e)
      line[static_cast<size_t>(e)] = value * scale;
  }
  for (int d = 1; d <= stored_channels; ++d) {
    double outflow = 0.0;
    double share = 0.0;
    // The first outflow stands for the line's.
    if (!reader.ReadDouble(outflow)) RaiseStateError(unreadable, reader);
    for (int j = 2; j <= stored_subintervals; ++j)
      if (double other = 0.0; !reader.ReadDouble(other)) RaiseStateError(unreadable, reader);
    ReadLabel(reader, OutflowLabel(rows.label, rows.number, d, stored_subintervals), unreadable);
    if (!reader.ReadDouble(share)) RaiseStateError(unreadable, reader);
    ReadLabel(reader, ShareLabel(rows.label, rows.number, d), unreadable);
    const sub_channel_range range = MappedSubChannels(d, channels, stored_channels);
    for (int k = range.first; k <= range.last; ++k)
      for (int j = 1; j <= s_count; ++j) row.Outflow(k, j) = outflow * scale;
  }
}

}  // namespace velmo
