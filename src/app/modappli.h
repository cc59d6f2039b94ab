// The model application: one complete simulation of one control file. It
// builds the set-up object and the modules in a fixed order and wires them,
// runs the time loop with the Ctrl-C menu, and at the end flushes every
// module's buffered output and releases everything in a fixed order.
#pragma once

#include <csignal>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/interpolator_slot.h"
#include "app/run_lock.h"
#include "framework/interrupt.h"
#include "framework/memory.h"
#include "framework/types.h"
#include "setup/settings.h"
#include "setup/statefile.h"

namespace velmo {

class MessageStream;
class grid_table;
class defaultini;
class tracer_ini_class;
struct tracer_description;
class SP_class;
class SpecialOutputClass;
class abflussmodellklasse;
class infiltrationsmodellklasse;
class expokorrklasse;
class verdunstungsmodellklasse;
class interzeptionsmodellklasse;
class schneemodellklasse;
class RegionalSuperposition;
class precicorrclass;
class data_assimilation;

// Menu answers.
inline constexpr int kMenuContinue = 0;
inline constexpr int kMenuCancelAfterStep = 1;
inline constexpr int kMenuCancelNow = 2;
inline constexpr int kMenuFlushAndContinue = 3;
// Result of a run cancelled after its current step, and the code thrown by
// an immediate cancellation.
inline constexpr int kCancelledAfterStep = 99;
inline constexpr int kCancelledNowCode = kInterruptEndNowCode;
// The interrupt state while the menu waits for its answer.
inline constexpr int kMenuOpen = -1;
// Date fields of a pass without any interpolator.
inline constexpr int kNoDate = -9999;

// The parts of a pass of the time loop, in their order. The pass reports the
// end of each to ModellApplication::phase_done; the index is the
// interpolator's (1..) for the per-variable parts, else 0.
enum class pass_phase : int {
  kStationRegressionAndCorrection,  // regressions, precipitation correction at the stations
  kInterpolation,                   // per variable
  kSuperpositionAndGridCorrection,
  kSetupUpdate,         // periodic grids, vegetation parameters
  kAssimilation,        // observed states
  kInterpolatorOutput,  // per variable: grids and statistics tables
  kSuperpositionOutput,
  kRadiationCorrection,
  kPotentialEvapotranspiration,
  kSnowEvaporation,
  kInterception,
  kSnow,  // with the glacier step
  kSoil,  // infiltration and soil
  kRealEvapotranspiration,
  kRouting,
  kSetupOutput,  // standard and variable grids, their statistics tables
  kSpecialOutput,
  kNextRecord,  // per variable: reading the next input record
};

// Reads one whitespace-delimited word of any length and returns the menu
// answer it stands for: its leading decimal integer when that is 0..3, else 0
// (also for a word that is no number and at the end of the input).
int ReadMenuAnswer(std::istream& in);

// First free grid-table entry (1..999) for an interpolator's result grid;
// without one, logs the entry naming the maximum and throws 12.
int ReserveInterpolatorEntry(const grid_table& table, MessageStream* messages);

class ModellApplication : public memory_handling {
 public:
  // Takes argument `position` of argv as its control file and builds the
  // run; throws the code of the first failure.
  ModellApplication(MessageStream* stream, int argc, char** argv, int position);
  ~ModellApplication() override;

  // Runs the time loop; returns 0, 99 when the run was cancelled after its
  // current step, or 1 when a Ctrl-C came in the last pass. Throws on a fatal
  // error and on cancellation without saving (98).
  virtual int run();
  // Flushes every buffered output, cleans up and deletes the modules. A
  // state file block that could not be written ends the run with code 16
  // once all that is done.
  virtual void ClearMemory();

  // One pass of the time loop: the current record's step through every
  // module; run() calls it until the input ends. Benchmarks call it step by
  // step.
  void RunPass();

  // Test hook: adds an interpolator after those of the control file, so that
  // a test can drive the time loop through several steps.
  void InstallInterpolator(std::unique_ptr<interpolator_slot> interpolator);
  // Benchmark hook: called at the end of each part of a pass (phase, the
  // interpolator's index or 0), so that a clock can take the parts' times.
  std::function<void(pass_phase, int)> phase_done;
  // Test hook: `observer` is called at the end of every pass of the time
  // loop, so that a test can read the grids and the modules' states in
  // memory after each step.
  using pass_observer = std::function<void(ModellApplication&)>;
  void InstallPassObserver(pass_observer observer);

  // 0: no Ctrl-C pending; 1: pressed (set by the handler); kMenuOpen while
  // the menu waits for its answer; 99: cancelled after the current step.
  volatile std::sig_atomic_t interrupt_state = 0;
  bool run_finished = false;
  std::string control_file;
  std::string control_file_intern;  // the preprocessed copy
  model_settings settings;          // from the set-up object
  model_date current_date{kNoDate, kNoDate, kNoDate, kNoDate, kNoDate};
  int interception_method = 0;
  bool interception_first = false;
  // Tracers handed to the modules (none: see TakeTracerDescriptions).
  int tracer_count = 0;
  const std::vector<tracer_description>* tracer_descriptions = nullptr;
  // Reservoirs and lakes of the routing model, for the data assimilation.
  std::vector<SP_class*> reservoirs;
  // The state file of the run (settings.state_files points here): when one
  // of its blocks could not be written, the clearing ends with code 16.
  state_file_session state_files;

  // The lock of the output folder, taken at the set-up and released when
  // the application goes (after its modules), also after a fatal error.
  std::unique_ptr<run_lock> output_lock;

  // ---- modules, in construction order
  std::unique_ptr<grid_table> grids;
  std::unique_ptr<defaultini> defaults;
  std::vector<std::unique_ptr<interpolator_slot>> interpolators;  // index 1..; 0 unused
  std::unique_ptr<tracer_ini_class> tracer_ini;
  std::unique_ptr<RegionalSuperposition> superposition;
  std::unique_ptr<precicorrclass> precipitation_correction;
  std::unique_ptr<expokorrklasse> radiation_correction;
  std::unique_ptr<verdunstungsmodellklasse> evapotranspiration;
  std::unique_ptr<schneemodellklasse> snow;
  std::unique_ptr<interzeptionsmodellklasse> interception;
  std::unique_ptr<infiltrationsmodellklasse> infiltration;  // also the soil model
  std::unique_ptr<abflussmodellklasse> routing;
  std::unique_ptr<SpecialOutputClass> special_output;
  std::unique_ptr<data_assimilation> assimilation;

 private:
  void init(int argc, char** argv, int position);
  void BuildSetup();
  void BuildInterpolators();
  void BuildTracerDescriptions();
  void TakeTracerDescriptions();
  void BuildModules();
  void BuildRouting();

  void PhaseDone(pass_phase phase, int index = 0) {
    if (phase_done) phase_done(phase, index);
  }
  model_date DateOfCurrentRecord();
  bool EveryInterpolatorAtEnd();
  bool InputEndsWithCurrentRecord();
  int VegetationInterval();
  void ShowInterruptMenu();
  void EndWithCurrentStep();
  void FlushForMenu();
  void WriteGridStatistics();
  void Clear();
  // Flushes every module's buffered rows, each module even when an earlier
  // one failed (KeepGoing); the clearing's order.
  void FlushOutputs();
  // Runs one module's part of the closing of the run: a failure is noted
  // with the message stream (an allocation failure reported first) and the
  // closing goes on.
  template <typename Step>
  void KeepGoing(std::string_view module, Step&& step);
  // `when` says where the run ended ("in its step 12").
  void WriteRowsAfterFatalError(int code, const std::string& when);
  std::string InStepText() const;
  // A SIGTERM or SIGHUP received: the run ends here as after a fatal error,
  // with 128 + the signal's number.
  void EndIfStopSignal();
  // The module at work, named in the report of an allocation failure.
  void Running(std::size_t interpolator);

  pass_observer pass_observer_;
  std::string_view running_ = "ModellApplication";
  long long steps_computed_ = 0;
  bool rows_written_ = false;
};

}  // namespace velmo
