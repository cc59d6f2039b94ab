#include "app/modappli.h"

#include <fstream>

#include "framework/diagnostics.h"

namespace velmo {
namespace {
constexpr int kControlFileOpenCode = 28;
}

ModellApplication::ModellApplication(MessageStream* stream, int /*argc*/, char** argv, int position)
    : memory_handling(stream) {
  name = "ModellApplication";
  interrupt_state = 0;
  run_finished = false;
  control_file = argv[position];
  std::ifstream probe(control_file);
  if (!probe) {
    *messages << "FATAL: error opening " << control_file << "[end-entry]";
    throw ErrorCode{kControlFileOpenCode};
  }
  *messages << "INFO: control file " << control_file << "[end-entry]";
}

int ModellApplication::run() {
  run_finished = true;
  return interrupt_state;
}

void ModellApplication::ClearMemory() {}

}  // namespace velmo
