// Abstractions: set-up of their tables, the amount of a step, rule rates and the result table.
#include "routing/abstraction.h"

#include <algorithm>
#include <cstdio>

#include "framework/diagnostics.h"
#include "framework/interrupt.h"
#include "framework/modelobject.h"
#include "physics/units.h"
#include "routing/flow_arrays.h"
#include "routing/storage_processes.h"

namespace velmo {
namespace {

// Values of the input table at or below this are missing.
constexpr double kMissingInput = -9998.0;
// Two-digit years of the tables are 19xx.
constexpr int kCenturyBelow = 1000;
constexpr int kCenturyAdded = 1900;
constexpr int kResultRowValues = 6;          // year, month, day, hour, minute, discharge
constexpr long kResultRowBytes = 28;         // 8 per tracer + 28, no tracers in the routing
constexpr double kMinuteColumnBelow = 60.0;  // minutes: shorter steps get a minute column

model_date ReaderDate(const TimeSeriesReader& reader) {
  model_date d;
  reader.GetDate(d.year, d.month, d.day, d.hour, d.minute);
  if (d.year < kCenturyBelow) d.year += kCenturyAdded;
  return d;
}

bool SameDate(const model_date& a, const model_date& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute;
}

std::string ResultHead(double dt) {
  return dt > 0.0 && dt < kMinuteColumnBelow ? "YY\tMM\tDD\tHH\tmm\tm^3/s" : "YY\tMM\tDD\tHH\tm^3/s";
}

}  // namespace

AL_class::AL_class(const abstraction_context& context, const abstraction_part& part)
    : context_(context), part_(part) {
  const double area = OutletArea();
  threshold_ = part.discharge_unit ? DischargeToDepth(part.threshold, area, context.dt) : part.threshold;
  maximum_ = part.discharge_unit ? DischargeToDepth(part.maximum, area, context.dt) : part.maximum;
  fraction_ = part.fraction;
  minute_column_ = context.dt < kMinuteColumnBelow;
  row_capacity_ = static_cast<int>(std::max(1L, kResultBufferBytes / kResultRowBytes));
}

double AL_class::DischargeToDepth(double discharge, double area, double dt) {
  return velmo::DischargeToDepth(discharge, area, dt);
}
double AL_class::DepthToDischarge(double depth, double area, double dt) {
  return velmo::DepthToDischarge(depth, area, dt);
}

bool AL_class::WritesResults() const {
  return part_.mode == abstraction_mode::external || part_.mode == abstraction_mode::from_file ||
         part_.mode == abstraction_mode::external_rule;
}

void AL_class::Open() {
  MessageStream& messages = *context_.messages;
  if (part_.mode == abstraction_mode::from_file) {
    input_ = std::make_unique<TimeSeriesReader>(part_.input_file, 0, kAbstractionInputBudget);
    if (input_->GetState() == kSeriesCannotOpen) {
      messages << "FATAL: error opening " << part_.input_file << " for abstraction " << part_.number
               << "[end-entry]";
      throw ErrorCode{kAbstractionFileCode};
    }
    const model_date& start = context_.start;
    input_->SetRow(-1);
    model_date found{};
    while (!SameDate(found, start)) {
      if (input_->GetState() != kSeriesReadError) input_->Advance();
      if (input_->GetState() == kSeriesReadError) {
        messages << "FATAL: error analysing or reading " << part_.input_file << " at row "
                 << input_->GetRowIndex() << " or before for abstraction " << part_.number << "[end-entry]";
        throw ErrorCode{kAbstractionStartCode};
      }
      if (input_->GetState() == kSeriesPastEnd) {
        messages << "FATAL: starting date " << start.day << "." << start.month << "." << start.year << ", "
                 << start.hour << ". h in " << part_.input_file << " not found."
                 << "[end-entry]";
        throw ErrorCode{kAbstractionStartCode};
      }
      found = ReaderDate(*input_);
    }
  }
  if (!WritesResults()) return;
  result_path_ = part_.result_file;
  modelobject::PrefixPath(&context_.output_directory, result_path_);
  std::FILE* file = std::fopen(result_path_.c_str(), "w");
  if (!file) {
    messages << "FATAL: error opening " << result_path_ << " for abstraction " << part_.number
             << "[end-entry]";
    throw ErrorCode{kAbstractionFileCode};
  }
  const std::string head = ResultHead(context_.dt);
  std::fprintf(file, "%s\nabstraction_%d\n%s\n", head.c_str(), part_.number, head.c_str());
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) {
    messages << "FATAL: error writing " << result_path_ << " for abstraction " << part_.number
             << "[end-entry]";
    throw ErrorCode{kAbstractionFileCode};
  }
}

void AL_class::ReadRules(const control_lines& control) {
  switch (part_.mode) {
    case abstraction_mode::internal_rule:
    case abstraction_mode::external_rule:
    case abstraction_mode::reservoir_rule:
      rule_ = ReadOperatingRule(
          control, "[abstraction_rule_abstraction_" + std::to_string(part_.number) + "]", context_.messages);
      has_rule_ = true;
      break;
    default:
      break;
  }
}

void AL_class::Connect(int target_position, double target_area, double target_divisor, int tributary_position,
                       double tributary_area) {
  target_position_ = target_position;
  target_area_ = target_area;
  target_divisor_ = target_divisor;
  tributary_position_ = tributary_position;
  tributary_area_ = tributary_area;
}

void AL_class::RescaleArea(double area) {
  if (!(area > 0.0) || !(context_.area > 0.0)) return;
  const double ratio = context_.area / area;
  threshold_ *= ratio;
  maximum_ *= ratio;
  context_.area = area;
}

double AL_class::ReceivingFlow(double depth) const {
  return velmo::DepthToDischarge(depth, tributary_area_, context_.dt);
}

double AL_class::InputValue(const model_date& date) {
  if (date.year > 0) {
    if (input_->GetState() == kSeriesPastEnd || input_->GetState() == kSeriesReadError) {
      *context_.messages << "FATAL: error reading from " << part_.input_file
                         << " (or from its buffer) for abstraction " << part_.number
                         << "\nreached end of file!"
                         << "[end-entry]";
      throw ErrorCode{kAbstractionTableEndCode};
    }
    const model_date read = ReaderDate(*input_);
    if (!SameDate(read, date)) {
      *context_.messages << "FATAL: error comparing dates in " << part_.input_file
                         << ":\n     read: " << read.year << "." << read.month << "." << read.day << ", "
                         << read.hour << ":" << read.minute << " h,\nshould be: " << date.year << "."
                         << date.month << "." << date.day << ", " << date.hour << ":" << date.minute
                         << " h.\n"
                         << "[end-entry]";
      throw ErrorCode{kAbstractionDateCode};
    }
  }
  const double value = input_->GetValue(part_.column - 1);
  // A missing or negative value takes nothing.
  return value > kMissingInput && value > 0.0 ? value : 0.0;
}

double AL_class::Abstract(const flow_arrays& flows, double& taken, double base, const model_date& date) {
  const double available = base - taken;
  double amount = 0.0;
  switch (part_.mode) {
    case abstraction_mode::internal:
    case abstraction_mode::external:
      amount = ThresholdAbstraction(base, taken, threshold_, fraction_, maximum_);
      break;
    case abstraction_mode::from_file:
      amount = std::min(available, DischargeToDepth(InputValue(date), OutletArea(), context_.dt));
      if (date.year > 0) input_->Advance();
      break;
    case abstraction_mode::internal_rule:
    case abstraction_mode::external_rule:
      amount =
          std::min(available, EvaluateRule(flows, DepthToDischarge(base, OutletArea(), context_.dt), date));
      break;
    case abstraction_mode::reservoir_rule:
    case abstraction_mode::none:
      break;
  }
  amount = std::max(0.0, amount);
  taken += amount;
  return amount;
}

double AL_class::EvaluateRule(const flow_arrays& flows, double flow, const model_date& date) {
  if (!has_rule_) return 0.0;
  const day_blend blend = BlendOfDay(rule_.start_day, RuleDayOfYear(date.month, date.day));
  double rate = RuleValue(rule_, blend, flow);
  if (Connected() && tributary_position_ > 0)
    rate = CappedRate(rate, rule_.cap[static_cast<size_t>(blend.upper)],
                      ReceivingFlow(flows.step[static_cast<size_t>(tributary_position_)]));
  return DischargeToDepth(rate, OutletArea(), context_.dt);
}

void AL_class::BeginTimedRule(const flow_arrays& flows, const model_date& date) {
  open_ = false;
  if (!has_rule_ || date.month < 1) return;
  blend_ = BlendOfDay(rule_.start_day, RuleDayOfYear(date.month, date.day));
  const int weekday = RuleWeekday(date.year, date.month, date.day, date.hour, date.minute,
                                  context_.interval_end_shift, minute_column_);
  open_ = RuleTableOpen(rule_, blend_.upper, weekday, date.hour);
  receiving_flow_ =
      Connected() && tributary_position_ > 0 ? ReceivingFlow(flows.Sub(tributary_position_)[1]) : 0.0;
}

double AL_class::TimedRate(double volume) const {
  if (!open_) return 0.0;
  const double rate = RuleValue(rule_, blend_, volume);
  if (Connected() && tributary_position_ > 0)
    return CappedRate(rate, rule_.cap[static_cast<size_t>(blend_.upper)], receiving_flow_);
  return rate;
}

void FlushResultRows(MessageStream& messages, const std::string& path, std::vector<double>& rows,
                     int row_values, bool minute_column) try {
  InterruptGuard no_interrupt;
  messages << "flushing to disk: " << path << " (" << kResultBufferBytes << " buffersize)"
           << "[end-entry]";
  std::vector<double> pending;
  pending.swap(rows);  // written at most once, also when writing fails
  std::FILE* file = std::fopen(path.c_str(), "a+");
  if (!file) {
    messages << "FATAL: error opening reservoir file " << path << "[end-entry]";
    throw ErrorCode{kStorageResultWriteCode};
  }
  for (size_t i = 0; i < pending.size(); i += static_cast<size_t>(row_values)) {
    const double* row = &pending[i];
    std::fprintf(file, "%2.0lf\t%2.0lf\t%2.0lf\t%2.0lf", row[0], row[1], row[2], row[3]);
    if (minute_column) std::fprintf(file, "\t%2.0lf", row[4]);
    for (int j = 5; j < row_values; ++j) std::fprintf(file, "\t%lg", row[j]);
    std::fputc('\n', file);
  }
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) {
    messages << "FATAL: error writing reservoir file " << path << "[end-entry]";
    throw ErrorCode{kStorageResultWriteCode};
  }
  rows.swap(pending);  // keeps the buffer's capacity
  rows.clear();
} catch (ErrorCode code) {
  OutputFailed(&messages, code);
}

void AL_class::AddResultRow(const model_date& date, double discharge) {
  if (!WritesResults()) return;
  if (static_cast<int>(rows_.size() / kResultRowValues) >= row_capacity_) FlushResults(1);
  rows_.insert(rows_.end(), {static_cast<double>(date.year), static_cast<double>(date.month),
                             static_cast<double>(date.day), static_cast<double>(date.hour),
                             minute_column_ ? static_cast<double>(date.minute) : 0.0, discharge});
}

void AL_class::FlushResults(int force) {
  if (!WritesResults() || rows_.empty() || force <= 0) return;
  FlushResultRows(*context_.messages, result_path_, rows_, kResultRowValues, minute_column_);
}

}  // namespace velmo
