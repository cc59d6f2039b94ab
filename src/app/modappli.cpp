// The model application. The construction, the pass of the time loop, the
// menu's end-date and flush sequences and the clearing each list every module
// in its fixed place.
#include "app/modappli.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <new>

#include "app/module_builder.h"
#include "framework/diagnostics.h"
#include "framework/gridtable.h"
#include "framework/interrupt.h"
#include "framework/zonalstat.h"
#include "landsurface/etpetr.h"
#include "landsurface/expokorr.h"
#include "landsurface/infilt.h"
#include "landsurface/interzep.h"
#include "meteo/meteoint.h"
#include "meteo/precipcorr.h"
#include "meteo/superposition.h"
#include "routing/abfluss.h"
#include "routing/dataassim.h"
#include "setup/defltuzr.h"
#include "setup/specialout.h"
#include "setup/tracers.h"
#include "snow/snowmod.h"

namespace velmo {
namespace {

constexpr const char* kSourceModule = "modappli";
// The set-up object's constructor ignores this value.
constexpr int kSetupUnusedArgument = 1;
// Interpolation methods that fit a station regression before each step.
constexpr int kFirstRegressionMethod = 10;
constexpr int kLastRegressionMethod = 11;
// Interception methods above this one run before the snow model.
constexpr int kLastSnowFirstInterceptionMethod = 10;
// Last argument of zonalstatistic::EndStep (not used by the writer).
constexpr int kEndStepFlag = 1;

constexpr const char* kMenuText =
    "SKIP: \nCtrl-C: cancel the model? \n0 = no (continue)\n1 = cancel with next interval (writing all grids "
    "and "
    "buffers)\n2 = cancel now without saving buffers!\n3 = flush buffers and go on with simulation\n\nchoose "
    "one "
    "of the above options: ";

// The time loop's view of a meteorological interpolator.
class meteo_interpolator_slot : public interpolator_slot {
 public:
  explicit meteo_interpolator_slot(std::unique_ptr<meteointerpol> interpolator)
      : interpolator_(std::move(interpolator)) {}
  void GetCurrentDate(int& minute, int& hour, int& day, int& month, int& year) override {
    interpolator_->GetCurrentDate(minute, hour, day, month, year);
  }
  int InterpolationMethod() override { return interpolator_->GetMethod(); }
  void ComputeStationRegression(int flag) override { interpolator_->ComputeStationRegression(flag); }
  void InterpolateStep(int minute, int hour, int day, int month, int year) override {
    interpolator_->InterpolateStep(minute, hour, day, month, year);
  }
  void WriteOutputs() override { interpolator_->WriteOutputs(); }
  void ReadNextRecord() override { interpolator_->ReadNextRecord(); }
  bool IsEndOfData() override { return interpolator_->IsEndOfData(); }
  bool InputEndsWithCurrentRecord() override { return interpolator_->InputEndsWithCurrentRecord(); }
  void SetEndDateToCurrent() override { interpolator_->SetEndDateToCurrent(); }
  void FlushBuffers() override { interpolator_->FlushBuffers(); }
  void CleanUp() override { interpolator_->CleanUp(); }
  meteointerpol* Interpolator() override { return interpolator_.get(); }

 private:
  std::unique_ptr<meteointerpol> interpolator_;
};

// A date as the messages of the application show it.
std::string DateText(const model_date& d) {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d %02d:%02d", d.day, d.month, d.year, d.hour, d.minute);
  return text;
}

}  // namespace

int ReadMenuAnswer(std::istream& in) {
  std::string word;
  if (!(in >> word)) return kMenuContinue;
  const char* first = word.data();
  const char* last = first + word.size();
  // A leading plus sign is part of a decimal integer; from_chars does not take it.
  if (first != last && *first == '+') ++first;
  int answer = kMenuContinue;
  if (std::from_chars(first, last, answer).ec != std::errc{}) return kMenuContinue;
  return answer >= kMenuContinue && answer <= kMenuFlushAndContinue ? answer : kMenuContinue;
}

int ReserveInterpolatorEntry(const grid_table& table, MessageStream* messages) {
  const int index = table.FirstFreeEntry();
  if (index < kGridTableLimit) return index;
  *messages << "FATAL: no more free grids in memeory, (max. " << kGridTableLimit << ")!\n"
            << "[end-entry]";
  throw ErrorCode{kNoFreeGridCode};
}

// ============================================================== construction

ModellApplication::ModellApplication(MessageStream* stream, int argc, char** argv, int position)
    : memory_handling(stream) {
  name = "ModellApplication";
  try {
    try {
      init(argc, argv, position);
    } catch (const std::bad_alloc&) {
      RaiseMemoryError(messages, std::string(running_), "while it is built");
    }
  } catch (...) {
    *messages << "FATAL: exceptions in ModellApplication::init() caught!"
              << "[end-entry]";
    throw;
  }
}

ModellApplication::~ModellApplication() = default;

void ModellApplication::init(int /*argc*/, char** argv, int position) {
  *messages << "file " << kSourceModule << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
  interrupt_state = 0;
  run_finished = false;
  control_file = argv[position];
  grids = grid_table::Create(messages);
  BuildSetup();
  BuildInterpolators();
  BuildTracerDescriptions();
  BuildModules();
  // Every module has taken what it reads; what only the set-up read goes.
  defaults->ReleaseSetUpOnlyGrids();
  ready = 1;
}

void ModellApplication::BuildSetup() {
  running_ = "defaults";
  // Ready once every stage has run.
  BuildModule(defaults,
              [&] {
                return MakeHandingBackCode<defaultini>(messages, control_file, kSetupUnusedArgument,
                                                       grids.get());
              },
              {.set_ready = false});
  bool done = false;
  while (!done) defaults->InitializeStage(done);
  // Before the first output file: another run writing to the same folder
  // ends this one here.
  output_lock = run_lock::Take(messages, defaults->DefaultOutputDirectory.get());
  defaults->CreateGridStatistics();
  settings = defaults->GetSettings();
  settings.state_files = &state_files;
  control_file_intern = settings.control_file_name;
  defaults->SetReady(1);
}

void ModellApplication::BuildInterpolators() {
  interpolators.clear();
  interpolators.resize(static_cast<std::size_t>(std::max(settings.meteo_count, 0)) + 1);
  // Variables with the same cells, stations and weighting share their cell
  // lists and weights.
  auto shared_pool = std::make_shared<interpolator_pool>();
  for (int k = 1; k <= settings.meteo_count; ++k) {
    const int result_entry = ReserveInterpolatorEntry(*grids, messages);
    running_ = settings.meteo_names[static_cast<std::size_t>(k)];
    int error = 0;
    // The constructor throws its own code.
    auto interpolator =
        std::make_unique<meteointerpol>(error, messages, settings.meteo_names[static_cast<std::size_t>(k)],
                                        settings, grids.get(), result_entry);
    interpolator->SetStationWarning(settings.station_warning);
    interpolator->ShareThrough(shared_pool);
    interpolator->SetIntervalEndShift(settings.min_to_int_end / kMinutesPerHour);
    interpolator->SetReady(1);
    interpolators[static_cast<std::size_t>(k)] =
        std::make_unique<meteo_interpolator_slot>(std::move(interpolator));
  }
}

void ModellApplication::BuildTracerDescriptions() {
  running_ = "tracer_ini";
  BuildModule(tracer_ini, [&] {
    return MakeHandingBackCode<tracer_ini_class>(
        messages, control_file_intern, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
        settings.WriteNetcdfGrids, settings.InitialStateDirectory, settings.DefaultOutputDirectory);
  });
  TakeTracerDescriptions();
}

// The one place where the modules' tracers come from. The description object
// keeps what it read to itself; no tracers are handed on yet, so no module
// sets up tracer storages. Handing them on means taking tracer_ini's count
// and descriptions here.
void ModellApplication::TakeTracerDescriptions() {
  tracer_count = 0;
  tracer_descriptions = nullptr;
}

// Each module is built and stored by one BuildModule call (which also sets it
// ready unless it is given {.set_ready = false}) and then connected to those
// built before it.
void ModellApplication::BuildModules() {
  // Never set ready; its constructor catches nothing, so a code thrown while
  // it reads its entities passes straight on.
  running_ = "RegionalSuperposition";
  BuildModule(superposition,
              [&] { return std::make_unique<RegionalSuperposition>(messages, settings, grids.get()); },
              {.set_ready = false});
  // The correction takes the interpolators themselves (those of the control
  // file, by the index of their variable), not the time loop's view of them.
  std::vector<meteointerpol*> meteo(static_cast<std::size_t>(std::max(settings.meteo_count, 0)) + 1, nullptr);
  for (std::size_t k = 1; k < meteo.size() && k < interpolators.size(); ++k)
    if (interpolators[k]) meteo[k] = interpolators[k]->Interpolator();
  running_ = "precipitation_correction";
  BuildModule(precipitation_correction,
              [&] { return std::make_unique<precicorrclass>(messages, meteo, settings, grids.get()); },
              {.set_ready = false});
  precipitation_correction->SetMaxElevation(defaults->GetMaxElevation());
  precipitation_correction->SetReady(1);
  running_ = "radiation_correction";
  BuildModule(radiation_correction,
              [&] { return std::make_unique<expokorrklasse>(messages, settings, grids.get()); });
  running_ = "evapotranspiration";
  BuildModule(evapotranspiration,
              [&] { return std::make_unique<verdunstungsmodellklasse>(messages, settings, grids.get()); },
              {.set_ready = false});
  evapotranspiration->LinkSoilGrids();
  evapotranspiration->SetRadiationCorrectionGrid(radiation_correction->GetCorrectionGrid());
  running_ = "snow_model";
  BuildModule(snow, [&] { return std::make_unique<schneemodellklasse>(messages, settings, grids.get()); },
              {.set_ready = false});
  snow->SetRadiationCorrectionGrid(radiation_correction->GetCorrectionGrid());
  evapotranspiration->SetSnowStorageGrid(snow->GetSnowStorageGrid());
  evapotranspiration->SetSnowMethod(snow->GetMethod());
  evapotranspiration->SetReady(1);

  running_ = "interception_model";
  BuildModule(interception,
              [&] { return std::make_unique<interzeptionsmodellklasse>(messages, settings, grids.get()); },
              {.set_ready = false});
  interception_method = interception->GetMethod();
  interception_first = interception_method > kLastSnowFirstInterceptionMethod;
  if (interception_first) {
    interception->SetSnowParameters(snow->GetTransZone(), snow->GetT0R());
  }
  snow->LinkInputGrids(interception_first);

  running_ = "infiltration_model";
  BuildModule(infiltration,
              [&] { return std::make_unique<infiltrationsmodellklasse>(messages, settings, grids.get()); },
              {.set_ready = false});
  infiltration->LinkInputGrids(interception_first);

  // Tracer storages (SetUpTracers hands its code back: ThrowHandedBackCode):
  int tracer_error = 0;
  snow->SetUpTracers(tracer_error, tracer_count, tracer_descriptions);
  ThrowHandedBackCode(tracer_error);
  int error = 0;
  interception->SetUpTracers(error, tracer_count, tracer_descriptions);
  ThrowHandedBackCode(error);
  interception->SetReady(1);
  infiltration->SetUpTracers(error, tracer_count, tracer_descriptions);
  ThrowHandedBackCode(error);
  infiltration->SetReady(1);

  // Lakes:
  evapotranspiration->InitLakeModel("[lake_model]");
  snow->InitLakeModel("[lake_model]");

  BuildRouting();
  running_ = "snow_model";
  if (snow->GetFlowControlParameter() > 0) {
    snow->SetSubbasinRunoff(infiltration->GetSubbasinRunoff());
    const std::string* storage_file = infiltration->GetStorageFileName();
    snow->ReadStorageFile(storage_file ? *storage_file : std::string(), infiltration->StorageReadMode());
    snow->SetReady(1);
  }

  running_ = "special_output";
  BuildModule(special_output,
              [&] { return std::make_unique<SpecialOutputClass>(messages, settings, grids.get()); },
              {.other_failure = kSpecialOutputErrorCode, .set_ready = false});
  if (routing->GetFlowControlParameter() != 0) routing->CollectReservoirs(reservoirs);
  // Never set ready by the application; it marks itself ready once its rules are read.
  running_ = "data_assimilation";
  BuildModule(
      assimilation,
      [&] { return std::make_unique<data_assimilation>(messages, settings, grids.get(), reservoirs); },
      {.set_ready = false});
}

// The routing model works on the soil model's subbasins and takes its runoff,
// state-file name and read mode. Without the soil model it gets the zones of
// the zone grid and no runoff, which ends the run (code 43) when it routes.
void ModellApplication::BuildRouting() {
  subbasin_zones subbasins{settings.zone_table, settings.zone_code_map, settings.zone_count,
                           settings.max_zone_code};
  if (infiltration->GetFlowControlParameter() != 0) subbasins = infiltration->Subbasins();
  const std::string* storage_file = infiltration->GetStorageFileName();
  const std::string storage_file_name = storage_file ? *storage_file : std::string();
  const int storage_read_mode = infiltration->StorageReadMode();
  running_ = "routing_model";
  BuildModule(routing,
              [&] {
                return std::make_unique<abflussmodellklasse>(messages, settings, grids.get(), subbasins,
                                                             storage_read_mode);
              },
              {.set_ready = false});
  routing->LinkInputGrids(interception_first);
  if (routing->GetFlowControlParameter() <= 0) return;
  routing->SetSubbasinRunoff(infiltration->GetSubbasinRunoff());
  routing->InitializeRouting();
  routing->SetChannelStateRecords();
  routing->ReadStorageFile(storage_file_name, storage_read_mode);
  routing->SetReady(1);
}

void ModellApplication::InstallInterpolator(std::unique_ptr<interpolator_slot> interpolator) {
  if (interpolators.empty()) interpolators.resize(1);
  interpolators.push_back(std::move(interpolator));
}

void ModellApplication::InstallPassObserver(pass_observer observer) { pass_observer_ = std::move(observer); }

// ============================================================== time loop

int ModellApplication::run() {
  const auto failed = [this] {
    *messages << "FATAL: Exception in Modellapplication::run() caught!"
              << "[end-entry]";
  };
  try {
    while (!run_finished) {
      EndIfStopSignal();
      RunPass();
      ++steps_computed_;
    }
    // The clearing would write the state file.
    EndIfStopSignal();
  } catch (ErrorCode code) {
    // Cancelling without saving (answer 2) keeps its meaning: nothing is written.
    if (code != kCancelledNowCode && !rows_written_) WriteRowsAfterFatalError(code, InStepText());
    failed();
    throw;
  } catch (const std::bad_alloc&) {
    try {
      RaiseMemoryError(messages, std::string(running_), "in its step of " + DateText(current_date));
    } catch (ErrorCode code) {
      WriteRowsAfterFatalError(code, InStepText());
      failed();
      throw;
    }
  } catch (...) {
    WriteRowsAfterFatalError(kUnexpectedErrorCode, InStepText());
    failed();
    throw;
  }
  // A Ctrl-C in the last pass had no pass left to show the menu; its pending
  // state (1) is the result.
  return interrupt_state;
}

void ModellApplication::RunPass() {
  if (interrupt_state == 1) ShowInterruptMenu();
  // Input that ends before the end date closes the run with this step, as
  // the menu's answer 1 does, so that every end-of-run output is written.
  if (InputEndsWithCurrentRecord()) EndWithCurrentStep();

  current_date = DateOfCurrentRecord();
  const model_date d = current_date;
  const std::size_t slots = interpolators.size();

  for (std::size_t k = 0; k < slots; ++k) {
    if (!interpolators[k]) continue;
    Running(k);
    const int method = interpolators[k]->InterpolationMethod();
    if (method >= kFirstRegressionMethod && method <= kLastRegressionMethod)
      interpolators[k]->ComputeStationRegression(0);
  }
  // Precipitation is corrected at the stations unless the superposition is
  // on, then on the grid after it.
  const bool superposition_on = superposition->GetFlowControlParameter() != 0;
  running_ = precipitation_correction->name;
  if (!superposition_on) precipitation_correction->CorrectStationValues();
  PhaseDone(pass_phase::kStationRegressionAndCorrection);
  for (std::size_t k = 0; k < slots; ++k) {
    if (!interpolators[k]) continue;
    Running(k);
    interpolators[k]->InterpolateStep(d.minute, d.hour, d.day, d.month, d.year);
    PhaseDone(pass_phase::kInterpolation, static_cast<int>(k));
  }
  running_ = superposition->name;
  superposition->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
  running_ = precipitation_correction->name;
  if (superposition_on || precipitation_correction->GridMode()) precipitation_correction->CorrectGrid();
  PhaseDone(pass_phase::kSuperpositionAndGridCorrection);

  running_ = defaults->name;
  const int interval = VegetationInterval();
  defaults->ReadPeriodicGrids(d.minute, d.hour, d.day, d.month, d.year, interval);
  // The soil model's grids (none while it is off).
  defaults->UpdateVegetationParameters(d.minute, d.hour, d.day, d.month, d.year, interval,
                                       infiltration->grid(bodenmodellklasse::kSoilStorageOldGrid),
                                       infiltration->grid(bodenmodellklasse::kSaturatedPartitionGrid),
                                       infiltration->grid(bodenmodellklasse::kInactiveCapacityGrid),
                                       infiltration->grid(bodenmodellklasse::kInactiveMoistureGrid));
  PhaseDone(pass_phase::kSetupUpdate);
  // Observed states replace the modelled ones before any grid is written or process runs.
  running_ = assimilation->name;
  assimilation->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kAssimilation);

  for (std::size_t k = 0; k < slots; ++k) {
    if (!interpolators[k]) continue;
    Running(k);
    interpolators[k]->WriteOutputs();
    PhaseDone(pass_phase::kInterpolatorOutput, static_cast<int>(k));
  }
  running_ = superposition->name;
  superposition->WriteOutputs();
  PhaseDone(pass_phase::kSuperpositionOutput);

  running_ = radiation_correction->name;
  radiation_correction->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kRadiationCorrection);
  running_ = evapotranspiration->name;
  evapotranspiration->PotentialEvapotranspiration(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kPotentialEvapotranspiration);
  evapotranspiration->SnowEvaporation(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kSnowEvaporation);
  const auto run_snow = [&] {
    running_ = snow->name;
    snow->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
    snow->RunGlacierStep(d.minute, d.hour, d.day, d.month, d.year);
    PhaseDone(pass_phase::kSnow);
  };
  const auto run_interception = [&] {
    running_ = interception->name;
    interception->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
    PhaseDone(pass_phase::kInterception);
  };
  if (interception_first) {
    run_interception();
    run_snow();
  } else {
    run_snow();
    run_interception();
  }
  running_ = infiltration->name;
  infiltration->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kSoil);
  running_ = evapotranspiration->name;
  evapotranspiration->RealEvapotranspiration(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kRealEvapotranspiration);
  running_ = routing->name;
  routing->RunTimeStep(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kRouting);

  running_ = defaults->name;
  defaults->WriteStandardGrids(d.minute, d.hour, d.day, d.month, d.year);
  defaults->WriteVariableGrids(d.minute, d.hour, d.day, d.month, d.year);
  WriteGridStatistics();
  PhaseDone(pass_phase::kSetupOutput);
  running_ = special_output->name;
  special_output->RecordStep(d.minute, d.hour, d.day, d.month, d.year);
  PhaseDone(pass_phase::kSpecialOutput);

  for (std::size_t k = 0; k < slots; ++k) {
    if (!interpolators[k]) continue;
    Running(k);
    interpolators[k]->ReadNextRecord();
    PhaseDone(pass_phase::kNextRecord, static_cast<int>(k));
  }
  run_finished = EveryInterpolatorAtEnd();
  if (pass_observer_) pass_observer_(*this);
}

void ModellApplication::Running(std::size_t interpolator) {
  meteointerpol* module = interpolators[interpolator]->Interpolator();
  running_ = module ? std::string_view(module->name) : std::string_view("meteorological interpolator");
}

// Every table gets the rows of the steps computed; the state file is not
// written, as the modules' states need not fit together after a failure.
void ModellApplication::WriteRowsAfterFatalError(int code, const std::string& when) {
  rows_written_ = true;
  messages->BeginClosing();
  FlushOutputs();
  const int unwritten = messages->OutputFailureCount();
  messages->EndClosing();
  *messages << "ERROR: the run ends with code " << code << " " << when << ": ";
  if (unwritten == 0) {
    *messages << "the rows of the steps computed are written to the tables";
  } else {
    *messages << unwritten << (unwritten == 1 ? " table" : " tables")
              << " could not be written (the ERROR entries name them), the others hold the rows of the steps "
                 "computed";
  }
  *messages << "; no state file is written"
            << "[end-entry]";
}

std::string ModellApplication::InStepText() const {
  return "in its step " + std::to_string(steps_computed_ + 1);
}

void ModellApplication::EndIfStopSignal() {
  const int signal_number = PendingStopSignal();
  if (signal_number == 0) return;
  const int code = ExitStatusOfSignal(signal_number);
  *messages << "ERROR: the run is ended by " << StopSignalName(signal_number) << " (signal " << signal_number
            << ")"
            << "[end-entry]";
  WriteRowsAfterFatalError(code, "after its step " + std::to_string(steps_computed_));
  throw ErrorCode{code};
}

model_date ModellApplication::DateOfCurrentRecord() {
  for (auto& interpolator : interpolators) {
    if (!interpolator) continue;
    model_date d;
    interpolator->GetCurrentDate(d.minute, d.hour, d.day, d.month, d.year);
    return d;
  }
  return model_date{kNoDate, kNoDate, kNoDate, kNoDate, kNoDate};
}

bool ModellApplication::InputEndsWithCurrentRecord() {
  bool ends = false;
  // Every interpolator is asked, so that each one that ends gives its warning.
  for (auto& interpolator : interpolators)
    if (interpolator && interpolator->InputEndsWithCurrentRecord()) ends = true;
  return ends;
}

bool ModellApplication::EveryInterpolatorAtEnd() {
  return std::ranges::all_of(interpolators,
                             [](auto& interpolator) { return !interpolator || interpolator->IsEndOfData(); });
}

// Interval (minutes) of the set-up object's per-step updates: the
// evapotranspiration model's when it is on, else a day.
int ModellApplication::VegetationInterval() {
  if (evapotranspiration && evapotranspiration->GetFlowControlParameter() != 0)
    return evapotranspiration->GetTimeInterval();
  return kMinutesPerDay;
}

// Zone statistics of the set-up object's grids that have a statistics file.
void ModellApplication::WriteGridStatistics() {
  const int last_entry = std::min(settings.grid_count + 2, kGridTableLimit - 1);
  auto statistics_of = [this](int index) -> zonalstatistic* {
    const grid_entry& entry = (*grids)[index];
    return entry.statfile.empty() ? nullptr : entry.statistics;
  };
  for (int i = 2; i <= last_entry; ++i)
    if (zonalstatistic* statistics = statistics_of(i)) statistics->StartStep();
  defaults->AccumulateGridStatistics();
  const model_date& d = current_date;
  for (int i = 2; i <= last_entry; ++i)
    if (zonalstatistic* statistics = statistics_of(i))
      statistics->EndStep(d.year, d.month, d.day, d.hour, d.minute, kEndStepFlag);
}

// ============================================================== Ctrl-C menu

void ModellApplication::ShowInterruptMenu() {
  // Presses while the menu waits for its answer are ignored.
  interrupt_state = kMenuOpen;
  *messages << kMenuText << "[end-entry]";
  const int answer = ReadMenuAnswer(std::cin);
  interrupt_state = answer;
  switch (answer) {
    case kMenuCancelAfterStep:
      EndWithCurrentStep();
      interrupt_state = kCancelledAfterStep;
      break;
    case kMenuCancelNow:
      *messages << "WARNING: program manually killed by pressing Ctrl-C and selecting 2![end-entry]";
      throw ErrorCode{kCancelledNowCode};
    case kMenuFlushAndContinue:
      FlushForMenu();
      interrupt_state = 0;
      break;
    default:
      break;
  }
  ArmInterruptHandler();
}

// The current record becomes the last step of every interpolator and module,
// so that every output interval closes with it. Without an interpolator the
// date is that of the pass to come (all fields -9999), which every module then
// takes as the end of the run.
void ModellApplication::EndWithCurrentStep() {
  for (auto& interpolator : interpolators)
    if (interpolator) interpolator->SetEndDateToCurrent();
  current_date = DateOfCurrentRecord();
  const model_date& d = current_date;
  radiation_correction->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  superposition->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  evapotranspiration->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  snow->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  interception->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  infiltration->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  routing->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  defaults->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
  special_output->SetEndDate(d.year, d.month, d.day, d.hour, d.minute);
}

void ModellApplication::FlushForMenu() {
  for (auto& interpolator : interpolators)
    if (interpolator) interpolator->FlushBuffers();
  superposition->FlushBuffers();
  evapotranspiration->FlushBuffers();
  snow->FlushBuffers();
  interception->FlushBuffers();
  infiltration->FlushBuffers();
  routing->FlushBuffers();
  special_output->FlushAll();
  defaults->FlushBuffers();
}

// ============================================================== clearing

void ModellApplication::ClearMemory() {
  try {
    // A file that cannot be written stops nothing: every module is flushed
    // and cleaned up, and the run ends with the first failure's code.
    messages->BeginClosing();
    Clear();
    int failure = messages->EndClosing();
    if (failure == 0 && state_files.Failed()) failure = kStateFileWriteErrorCode;
    for (const std::string& path : state_files.RemoveIncompleteFiles())
      *messages << "ERROR: the state file " << path << " could not be written completely and is removed"
                << "[end-entry]";
    if (failure != 0) {
      *messages
          << "FATAL: not every output could be written (the ERROR entries name the files); the run ends "
             "with code "
          << failure << "[end-entry]";
      throw ErrorCode{failure};
    }
  } catch (...) {
    messages->EndClosing();
    *messages << "FATAL: Exception in Modellapplication::ClearMemory() caught!"
              << "[end-entry]";
    throw;
  }
}

template <typename Step>
void ModellApplication::KeepGoing(std::string_view module, Step&& step) {
  try {
    try {
      step();
    } catch (const std::bad_alloc&) {
      RaiseMemoryError(messages, std::string(module), "while its outputs are written");
    }
  } catch (ErrorCode code) {
    messages->NoteOutputFailure(code);
  } catch (...) {
    messages->NoteOutputFailure(kUnexpectedErrorCode);
  }
}

void ModellApplication::FlushOutputs() {
  for (std::size_t k = 0; k < interpolators.size(); ++k) {
    if (!interpolators[k]) continue;
    Running(k);
    KeepGoing(running_, [&] { interpolators[k]->FlushBuffers(); });
  }
  const auto flush = [this](auto& module) {
    if (module) KeepGoing(module->name, [&] { module->FlushBuffers(); });
  };
  flush(evapotranspiration);
  flush(snow);
  flush(interception);
  flush(infiltration);
  flush(routing);
  flush(superposition);
  if (special_output) KeepGoing(special_output->name, [&] { special_output->FlushAll(); });
  flush(assimilation);
  flush(defaults);
}

void ModellApplication::Clear() {
  *messages << "end of simulation reached successfully!"
            << "[end-entry]";
  *messages << "free memory ..."
            << "[end-entry]";

  FlushOutputs();

  // Interpolators, last to first.
  for (std::size_t k = interpolators.size(); k-- > 1;) {
    if (!interpolators[k]) continue;
    Running(k);
    KeepGoing(running_, [&] { interpolators[k]->CleanUp(); });
  }
  settings.meteo_names.clear();
  *messages << "meteointerpolators are freed..."
            << "[end-entry]";

  // Tracer storages.
  const auto free_tracers = [this](auto& module) {
    if (module) KeepGoing(module->name, [&] { module->FreeTracers(); });
  };
  free_tracers(snow);
  free_tracers(interception);
  free_tracers(infiltration);

  // Clean-ups; the routing model writes the state file, the soil and snow
  // models append their blocks.
  const auto clean_up = [this](auto& module) {
    if (module) KeepGoing(module->name, [&] { module->CleanUp(); });
  };
  clean_up(routing);
  clean_up(infiltration);
  clean_up(interception);
  clean_up(snow);
  clean_up(evapotranspiration);
  clean_up(radiation_correction);
  clean_up(superposition);
  clean_up(precipitation_correction);
  clean_up(tracer_ini);
  clean_up(special_output);
  clean_up(assimilation);
  clean_up(defaults);

  control_file.clear();
  control_file_intern.clear();
  if (settings.output_list_count > 0) {
    settings.output_list.clear();
    settings.output_list_count = 0;
  }

  *messages << "o.k."
            << "[end-entry]";
  *messages << "now removing modules...";
  while (!interpolators.empty()) interpolators.pop_back();
  settings.meteo_count = 0;
  tracer_ini.reset();
  routing.reset();
  infiltration.reset();
  interception.reset();
  snow.reset();
  evapotranspiration.reset();
  radiation_correction.reset();
  superposition.reset();
  precipitation_correction.reset();
  special_output.reset();
  assimilation.reset();
  defaults.reset();
  // The table goes last, so that no module outlives the table it points into.
  grids.reset();
  ready = 0;
  *messages << "o.k.\n\nthe end."
            << "[end-entry]";
}

}  // namespace velmo
