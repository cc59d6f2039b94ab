// Program entry: the command line, the start banner, the control-file loop and the top-level handler.
#include "app/entry.h"

#include <exception>
#include <iostream>
#include <memory>
#include <new>

#include "app/modappli.h"
#include "framework/diagnostics.h"
#include "framework/interrupt.h"
#include "framework/memory.h"

namespace velmo {
namespace {

constexpr const char* kLevelOption = "-diaglevel:";
constexpr const char* kFileOption = "-diagfile:";
// The program version, set in CMakeLists.txt; the banner shows it without
// the dollar signs.
constexpr const char* kVersionText = "$Version: " VELMO_VERSION "$";
constexpr int kUsageCode = 2;
constexpr int kMaxExitStatus = 255;

int LevelFromName(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (text == "FATAL") return kFatal;
  if (text == "ERROR") return kError;
  if (text == "WARNING") return kWarning;
  if (text == "INFO") return kInfo;
  return kDebug;
}

void WriteBanner(MessageStream& ms) {
  const std::string rule(76, '-');
  std::string version = kVersionText;
  std::erase(version, '$');
  ms << rule << "[end-entry]";
  ms << "Velmo - distributed hydrological catchment model"
     << "[end-entry]";
  ms << "Linux 64-bit console build"
     << "[end-entry]";
  ms << version << "[end-entry]";
  ms << "usage: velmo <control files> [-diagfile:<file>] [-diaglevel:<FATAL|ERROR|WARNING|INFO|DEBUG>]\n"
     << rule << "[end-entry]";
}

// A SIGTERM or SIGHUP that came while no time loop ran (between two control
// files, or while the last one was cleared) ends the program here.
void EndIfStopSignal(MessageStream& ms) {
  const int signal_number = PendingStopSignal();
  if (signal_number == 0) return;
  ms << "ERROR: the program is ended by " << StopSignalName(signal_number) << " (signal " << signal_number
     << ")"
     << "[end-entry]";
  throw ErrorCode{ExitStatusOfSignal(signal_number)};
}

void RunControlFiles(MessageStream& ms, int argc, char** argv, const CommandLine& options,
                     const ApplicationFactory& make_application, int& last_exit_code) {
  for (int i = 1; i < argc; ++i) {
    if (i == options.level_position || i == options.file_position) continue;
    EndIfStopSignal(ms);
    std::unique_ptr<ModellApplication> application =
        make_application ? make_application(&ms, argc, argv, i)
                         : std::make_unique<ModellApplication>(&ms, argc, argv, i);
    SetCurrentInterruptState(&application->interrupt_state);
    last_exit_code = 0;
    ArmInterruptHandler();
    try {
      last_exit_code = application->run();
      application->ClearMemory();
    } catch (...) {
      // The handler must never mark an application that is being destroyed.
      SetCurrentInterruptState(nullptr);
      throw;
    }
    SetCurrentInterruptState(nullptr);
    application.reset();
  }
  EndIfStopSignal(ms);
}

int AbortWith(std::unique_ptr<MessageStream>& ms, int code, const std::string& what) {
  SetCurrentInterruptState(nullptr);
  if (ms) {
    if (!what.empty()) *ms << "FATAL: unexpected exception: " << what << "[end-entry]";
    *ms << "FATAL: Execption " << code << " caught at top level!"
        << "[end-entry]";
    *ms << "FATAL: Program aborted with exit code " << code << "[end-entry]";
    ms->Close();
    ms.reset();
  } else {
    std::cout << "Execption " << code << " caught at top level!\n"
              << "Program aborted with exit code " << code << std::endl;
  }
  return ExitStatusOf(code);
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with(kLevelOption)) {
      options.max_level = LevelFromName(argument.substr(std::string(kLevelOption).size()));
      options.level_position = i;
    } else if (argument.starts_with(kFileOption)) {
      options.diag_file_name = argument.substr(std::string(kFileOption).size());
      options.file_position = i;
    }
  }
  return options;
}

int ExitStatusOf(int code) { return code >= 1 && code <= kMaxExitStatus ? code : kMaxExitStatus; }

int VelmoMain(int argc, char** argv, const ApplicationFactory& make_application) {
  // From the start: a press during the set-up is kept for the first step.
  ArmInterruptHandler();
  ArmStopHandlers();
  const CommandLine options = ParseCommandLine(argc, argv);
  std::unique_ptr<MessageStream> ms;
  int last_exit_code = 0;
  try {
    ms = std::make_unique<MessageStream>(options.diag_file_name, options.max_level);
    SetCurrentInterruptState(nullptr);
    WriteBanner(*ms);
    if (argc < 2) {
      *ms << "FATAL: \nusage: velmovc[o]<32|64> <1st cntrl-file> [<2nd cntrl-file> ... [n-th cntrl-file]] "
             "[-diagfile:<diagnostics_file> [-diaglevel:<FATAL|ERROR|WARNING|INFO|DEBUG>]]\n"
          << "[end-entry]";
      throw ErrorCode{kUsageCode};
    }
    RunControlFiles(*ms, argc, argv, options, make_application, last_exit_code);
    *ms << "exitcode " << last_exit_code << "[end-entry]";
    *ms << "o.k.\n\nthe end."
        << "[end-entry]";
    ms->Close();
    return last_exit_code;
  } catch (ErrorCode code) {
    return AbortWith(ms, code, "");
  } catch (const std::bad_alloc&) {
    if (ms) *ms << "FATAL: memory allocation error in velmo (outside the modules)[end-entry]";
    return AbortWith(ms, kMemoryErrorCode, "");
  } catch (const std::exception& e) {
    return AbortWith(ms, kUnexpectedErrorCode, e.what());
  } catch (...) {
    return AbortWith(ms, kUnexpectedErrorCode, "unknown");
  }
}

}  // namespace velmo
