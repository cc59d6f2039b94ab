// Program entry: command line, start banner, the control-file loop and the
// top-level handler.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velmo {

class MessageStream;
class ModellApplication;

// Builds the application of argument `position`; tests pass one that installs
// fakes into the application's slots.
using ApplicationFactory = std::function<std::unique_ptr<ModellApplication>(MessageStream* stream, int argc,
                                                                            char** argv, int position)>;

// The diagnostics options of a command line. Positions are those of the last
// occurrence of each option (0: not given).
struct CommandLine {
  int max_level = 4;
  std::string diag_file_name;
  int level_position = 0;
  int file_position = 0;
};

CommandLine ParseCommandLine(int argc, char** argv);

// Maps a fatal code to a process exit status: 1..255 as they are, any other
// code to 255 so that a failure never looks like success.
int ExitStatusOf(int code);

// The whole program; returns the process exit status. Without a factory each
// control file gets a plain ModellApplication.
int VelmoMain(int argc, char** argv, const ApplicationFactory& make_application = {});

}  // namespace velmo
