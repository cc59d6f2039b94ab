// An abstraction ("AL" part of a routing description): water taken from the
// outlet of a routing element, or from its last reservoir, by a threshold,
// fraction and maximum, by a column of a table, or by an operating rule. The
// water leaves the system (and is written to a result table) or feeds the
// internal inflow ("ZL ... = intern") of the same number in another element.
// The element owns its abstractions and drives them in its step.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/timeseries.h"
#include "framework/types.h"
#include "routing/operating_rule.h"
#include "routing/routing_description.h"

namespace velmo {

class MessageStream;
struct flow_arrays;

// Codes of the abstractions.
inline constexpr int kAbstractionFileCode = 37;           // input or result file cannot be opened
inline constexpr int kAbstractionStartCode = 38;          // start date missing in the input table
inline constexpr int kAbstractionDateCode = 36;           // an input row of another date than the step
inline constexpr int kAbstractionTableEndCode = 39;       // the input table has ended
inline constexpr int kStorageResultWriteCode = 65;        // a result file cannot be written
inline constexpr long kAbstractionInputBudget = 1000000;  // bytes of a block of the input table
// Bytes of the row buffer of a result table.
inline constexpr long kResultBufferBytes = 2097152;

// What an abstraction needs of its element and the routing model.
struct abstraction_context {
  MessageStream* messages = nullptr;
  int outlet_code = 0;   // TG of the element
  double area = 0.0;     // outlet area A, km2
  double divisor = 1.0;  // area divisor D
  double dt = 0.0;       // minutes
  std::string output_directory;
  double interval_end_shift = 0.0;  // hours
  model_date start;
};

class AL_class {
 public:
  AL_class(const abstraction_context& context, const abstraction_part& part);
  virtual ~AL_class() = default;
  AL_class(const AL_class&) = delete;
  AL_class& operator=(const AL_class&) = delete;

  // Opens the input table of mode 5 at the run's start and creates the result
  // table of modes 4, 5 and 7 with its head lines.
  virtual void Open();
  // The rule section of modes 6, 7 and 8.
  virtual void ReadRules(const control_lines& control);
  // Ties an internal abstraction to the inflow it feeds: the receiving
  // element's outlet position, area and divisor, and the position and area
  // (km2, over which its depth lies) of its first tributary (position 0: none).
  virtual void Connect(int target_position, double target_area, double target_divisor, int tributary_position,
                       double tributary_area);
  // The element's outlet area became `area` (km2): thresholds and maxima,
  // depths over the old area, keep their discharges.
  virtual void RescaleArea(double area);

  // Amount of the step as a depth over A/D from the base `base` (the
  // outlet's depth, or the last reservoir's volume as a depth); `taken` is
  // what the element's earlier abstractions took and grows by the amount.
  // Mode 8 takes nothing here: its reservoir draws it.
  virtual double Abstract(const flow_arrays& flows, double& taken, double base, const model_date& date);
  // Rule rate of modes 6 and 7 for the outlet flow (m3/s), as a depth over A/D.
  virtual double EvaluateRule(const flow_arrays& flows, double flow, const model_date& date);
  // Rule rate of mode 8 (m3/s) for a reservoir volume (m3): BeginTimedRule
  // once per step, then TimedRate per sub-step.
  virtual void BeginTimedRule(const flow_arrays& flows, const model_date& date);
  double TimedRate(double volume) const;
  double EvaluateTimedRule(const flow_arrays& flows, double volume, const model_date& date) {
    BeginTimedRule(flows, date);
    return TimedRate(volume);
  }

  // A row of the result table (modes 4, 5, 7): the discharge (m3/s) of the
  // step; the buffer is flushed first when it is full.
  virtual void AddResultRow(const model_date& date, double discharge);
  // Writes the buffered rows (with force > 0). A file that cannot be
  // written is code 65.
  virtual void FlushResults(int force);

  int Number() const { return part_.number; }
  abstraction_mode Mode() const { return part_.mode; }
  bool Internal() const { return IsInternal(part_.mode); }
  bool Connected() const { return target_position_ >= 0; }
  bool DrawsFromReservoir() const { return part_.mode == abstraction_mode::reservoir_rule; }
  bool WritesResults() const;
  double Threshold() const { return threshold_; }  // depth per step over A/D
  double Maximum() const { return maximum_; }
  double Area() const { return context_.area; }
  const std::string& ResultPath() const { return result_path_; }
  const operating_rule& Rule() const { return rule_; }
  // What the abstraction took in the last step, m3/s; for mode 8 set by
  // the reservoir it draws from.
  double discharge = 0.0;

  static double DischargeToDepth(double discharge, double area, double dt);
  static double DepthToDischarge(double depth, double area, double dt);

 private:
  double OutletArea() const { return context_.area / context_.divisor; }
  // Flow at the receiving element's first tributary (m3/s) for the cap.
  double ReceivingFlow(double depth) const;
  double InputValue(const model_date& date);
  void AdvanceInput();

  abstraction_context context_;
  abstraction_part part_;
  double threshold_ = 0.0;  // depth per step over A/D
  double fraction_ = 0.0;
  double maximum_ = 0.0;
  bool minute_column_ = false;

  // Mode 5.
  std::unique_ptr<TimeSeriesReader> input_;
  // Result table.
  std::string result_path_;
  std::vector<double> rows_;  // year, month, day, hour, minute, value
  int row_capacity_ = 1;

  // Connection.
  int target_position_ = -1;
  double target_area_ = -1.0;
  double target_divisor_ = 1.0;
  int tributary_position_ = 0;
  double tributary_area_ = 0.0;

  operating_rule rule_;
  bool has_rule_ = false;
  // Of the step, set by BeginTimedRule.
  day_blend blend_;
  bool open_ = false;
  double receiving_flow_ = 0.0;
};

}  // namespace velmo
