// A routing element: the outlet of one subbasin with every channel that
// delivers water to it (tributaries from other outlets, summed channels,
// inflows). Each channel keeps its w-q table and its routing state: a delay
// line split into sub-channels and two linear storages per sub-channel. The
// routing model builds one element per routing description and drives them
// in description order, upstream first.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/types.h"
#include "routing/abstraction.h"
#include "routing/channel_hydraulics.h"
#include "routing/flow_arrays.h"
#include "routing/inflow_table.h"
#include "routing/reservoir.h"
#include "routing/routing_description.h"

namespace velmo {

class state_file_reader;

// Codes of the inflow tables and of the routing block of the state file.
inline constexpr int kInflowDateErrorCode = 36;
inline constexpr int kInflowOpenErrorCode = 37;
inline constexpr int kInflowStartErrorCode = 38;
inline constexpr int kInflowEndErrorCode = 39;
inline constexpr int kStateContentErrorCode = 71;
// Format of the current routing block ("[routing_model_v2]"), whose position
// lines carry the sizes of the channel that wrote them.
inline constexpr int kStateFormatWithSizes = 2;

// Observed discharges the channels may take in place of the routed ones.
class observed_values {
 public:
  virtual ~observed_values() = default;
  // Whether a row of the step is there.
  virtual bool HasRecord() const = 0;
  // Value of the step in column `column` (from 1).
  virtual double StepValue(int column) const = 0;
};

// The routing output unit of m3/s.
inline constexpr int kDischargeOutputUnit = 1;  // 0 is mm per step

// What an element needs of the routing model.
struct reach_context {
  double dt = 0.0;       // minutes
  int subintervals = 1;  // S
  int zone_count = 0;
  const int* code_map = nullptr;  // code -> zone index
  int max_code = 0;
  double nodata_value = -9999.0;
  // The output unit of the routing (read after the elements are built):
  // observed discharges are in that unit, m3/s when it is
  // kDischargeOutputUnit, else mm per step.
  const int* output_unit = nullptr;
  area_table* areas = nullptr;
  flow_arrays* flows = nullptr;
  // For abstractions and reservoirs.
  model_date start;
  std::string output_directory;
  double interval_end_shift = 0.0;        // hours
  const lake_grids* lake = nullptr;       // lake modelling on
  bool lake_volume_from_ponding = false;  // "readgrids" of the lake set-up
};

// Per zone index: whether the last reservoir of the element with that outlet
// leads through a hydraulic connection, whose flow then stands for the
// channel from that outlet.
using connection_flags = std::vector<char>;

// One channel row of an element.
struct channel_row {
  channel_kind kind = channel_kind::tributary;
  int code = 0;                       // subbasin code; the inflow number for an inflow
  int position = 0;                   // flow position the channel takes its water from
  std::vector<int> joined;            // summed channel: further codes
  std::vector<int> joined_positions;  // and their zone indices
  channel_values values;
  wq_settings settings;
  wq_table table;
  double recession_main = 0.0;   // exp(-1/k) of the main channel
  double recession_flood = 0.0;  // and of the flood plain
  bool observed_substitution = false;
  double weight = 0.0;         // area weight (tributary and summed rows)
  double summed_weight = 0.0;  // summed row: weight sum of its last step
  // Inflow rows.
  int inflow_number = 0;
  inflow_mode mode = inflow_mode::unknown;
  double inflow = 0.0;  // m3/s

  // Routing state. The delay line holds entries 1..E+S; sub-channel k
  // (1..C) owns the segment (k-1)L+1 .. kL with L = max delay + S.
  std::vector<double> delay_line;
  // Summed row: the delay lines of the joined codes, as they were filled at
  // the start. The channel routes their water through its own line; these
  // are kept for the state file, which holds a line per position.
  std::vector<std::vector<double>> joined_delay_lines;
  std::vector<int> segment_end;       // 1..C: last filled entry
  std::vector<double> compensation;   // 1..C
  std::vector<double> outflow;        // Qaus: (C+2) x (S+2), sub-channel k, sub-interval j
  std::vector<double> outflow_share;  // qvzuq: 1..C
  double& Outflow(int k, int j) { return outflow[static_cast<size_t>(k) * (settings.subintervals + 2) + j]; }
  double Outflow(int k, int j) const {
    return outflow[static_cast<size_t>(k) * (settings.subintervals + 2) + j];
  }
  int SegmentLength() const { return table.max_delay + settings.subintervals; }
};

class routingclass : public modelobject {
 public:
  // The element of outlet `outlet_code` (a subbasin code) with outlet area
  // `area` (km2) and area divisor `divisor`.
  routingclass(MessageStream* stream, const reach_context& context, int outlet_code, double area,
               double divisor);

  // Adds the next channel row (tributaries, summed channels and inflows in
  // this order); `positions` are the zone indices of code and joined codes
  // (unused for an inflow). Throws code 1 when the channel would need an
  // absurd number of storage elements.
  void SetUpChannel(channel_kind kind, int code, const std::vector<int>& joined, const channel_values& values,
                    const wq_settings& settings, bool observed_substitution);
  // The inflow of the last row: its number, mode and current discharge. An
  // inflow of mode "extern" opens its table `file` (code 37), finds data row
  // `start_row` and the row dated `start` from there on (38), checks that
  // `column` names a value column (38) and takes its discharge from that row.
  void InitInflow(int inflow_number, inflow_mode mode, double discharge, const std::string& file = {},
                  int start_row = 0, int column = 0, const model_date& start = {});
  // The flow positions of the "extern" inflows take the discharge of their
  // table row of this date, as depths; the tables move on by one row. Codes
  // 39 (the table has ended) and 36 (the row has another date).
  void ReadExternalInflows(int year, int month, int day, int hour, int minute);

  // Area weights of the rows and the outlet's entries of the area table;
  // the outlet area becomes the area found on the zone grid.
  void CheckBasinArea();
  // One "wq_table.%.3d" / "wq_tabZL.%.3d" file per row, in the working
  // directory. A file that cannot be created is reported and skipped.
  void WriteWqTables();
  // An "AL" part: the abstraction is built and opens its tables.
  void SetAblaufModus(const abstraction_part& part);
  // An "SP" part: the reservoir is built and set up.
  void SetSpeicherParams(const reservoir_part& part);
  void ReadReservoirRules(const control_lines& control);
  void SetReservoirMap(reservoir_map& map);
  // Flags the outlet when its last reservoir is connected, and keeps the
  // flags of every outlet for the channels of this element.
  void SetConnectionFlagMap(connection_flags& flags);
  void CheckReservoirConnections(const reservoir_map& map) const;
  void InitReservoirOutflows();
  void ReadAbstractionRules(const control_lines& control);

  // Inflow depths from their discharges and full delay lines.
  void InitFlowArrays(const observed_values* observed, const std::vector<int>* column_map);
  // Storages in equilibrium with the depth of each row's source.
  void InitChannelStorages();
  // One step; year 0 marks an initialisation pass.
  void RouteStep(int year, int month, int day, int hour, int minute);

  // The element's part of the routing block of the state file: per position
  // its delay line and the storages of the channel it enters.
  void WriteState(std::FILE* file) const;
  // Reads what WriteState wrote; `file_name` names the file in the entries,
  // `stored_step` is the time step (minutes) of the run that wrote it. In
  // format 2 a position written by a channel of other sizes is resampled.
  // A block that does not fit ends the run with code 71.
  void ReadState(state_file_reader& reader, const std::string& file_name, double stored_step, int format);

  int MaxStorageElements(int current) const;
  // Largest whole number of hours of the flow time at the lowest class.
  int LargestLowFlowHours() const;
  int ClassIndex(int row, double depth) const { return velmo::ClassIndex(rows_[row - 1].table, depth); }
  void CollectReservoirs(std::vector<SP_class*>& list) const;
  // Writes the buffered rows of every abstraction, then of every reservoir.
  void FlushResults();
  // Depth (over A/D) the abstractions took in the last step.
  double GetAbstractedDepth() const { return abstracted_; }
  // What the compensation volumes of the channels hold, m3: the water that
  // falling discharge classes put there less what rising ones took out
  // (water their longer delays created).
  double CompensationVolume() const;
  // Logs what is freed, flushes the result tables and frees the element.
  void CleanUp() override;

  int OutletCode() const { return outlet_code_; }
  int OutletPosition() const { return outlet_position_; }
  double Area() const { return area_; }
  double Divisor() const { return divisor_; }
  double OutletWeight() const { return outlet_weight_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  const channel_row& Row(int row) const { return rows_[static_cast<size_t>(row) - 1]; }
  const std::vector<channel_row>& Rows() const { return rows_; }
  int AbstractionCount() const { return static_cast<int>(abstractions_.size()); }
  AL_class& Abstraction(int number) const { return *abstractions_[static_cast<size_t>(number) - 1]; }
  int ReservoirCount() const { return static_cast<int>(reservoirs_.size()); }
  SP_class& Reservoir(int number) const { return *reservoirs_[static_cast<size_t>(number) - 1]; }
  // Area over which the outlet's depths lie, km2.
  double OutletArea() const { return area_ / divisor_; }

  static double DischargeToDepth(double discharge, double area, double dt) {
    return velmo::DischargeToDepth(discharge, area, dt);
  }
  static double DepthToDischarge(double depth, double area, double dt) {
    return velmo::DepthToDischarge(depth, area, dt);
  }

 private:
  // Value of a source position in a sub-interval, the observed one when the
  // row substitutes it.
  double SourceValue(const channel_row& row, int position, double value) const;
  void RouteChannel(channel_row& row);
  void WriteWqTable(const channel_row& row) const;
  void Abstract(const model_date& date);
  void PassReservoirs(const model_date& date);
  // Writes a discharge (m3/s) into every sub-interval and the step of an
  // internal inflow.
  void Deliver(const AL_class& abstraction, double discharge);

  // reach_state.cpp
  void WritePosition(std::FILE* file, const channel_row& row, int position, const std::vector<double>& line,
                     const char* separator, const char* kind) const;
  void WriteStorages(std::FILE* file, const channel_row& row, const char* label, int number) const;
  // Which rows a position of the block belongs to, as its labels name them:
  // the kind of its position line, the rows of its storage lines and their
  // number (from 1, tributary and summed rows and inflows counted apart).
  struct stored_rows {
    const char* kind;
    const char* label;
    int number;
  };
  void ReadPosition(state_file_reader& reader, channel_row& row, int position, std::vector<double>& line,
                    double stored_step, int format, const stored_rows& rows);
  void ResampleStateValues(state_file_reader& reader, channel_row& row, int position,
                           std::vector<double>& line, int stored_channels, int stored_subintervals,
                           double scale, const stored_rows& rows);
  // The rest of the line must be `label`; else the entry names `what` and
  // the line.
  void ReadLabel(state_file_reader& reader, const std::string& label, const std::string& what) const;
  [[noreturn]] void RaiseStateError(const std::string& text, const state_file_reader& reader) const;
  [[noreturn]] void RaiseStateError(const std::string& text, int line) const;

  reach_context context_;
  int outlet_code_ = 0;
  int outlet_position_ = 0;
  double area_ = 0.0;
  double divisor_ = 1.0;
  double outlet_weight_ = 0.0;
  std::vector<channel_row> rows_;
  // Inflows of mode "extern", in row order.
  struct external_inflow {
    int row = 0;    // index into rows_
    int index = 0;  // the inflow's number within the element (1..)
    inflow_table table;
  };
  std::vector<external_inflow> external_;
  std::string state_file_name_;  // of the state file being read, for the entries
  const observed_values* observed_ = nullptr;
  const std::vector<int>* column_map_ = nullptr;
  // Scratch of a step, sub-intervals 0..S.
  std::vector<double> outlet_;
  std::vector<double> channel_;

  std::vector<std::unique_ptr<AL_class>> abstractions_;
  std::vector<std::unique_ptr<SP_class>> reservoirs_;
  std::vector<AL_class*> draws_;  // the abstractions of mode 8, drawn by the last reservoir
  const connection_flags* connection_flags_ = nullptr;
  double abstracted_ = 0.0;
};

}  // namespace velmo
