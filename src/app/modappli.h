// The model application: builds the modules of one control file, runs the
// time loop and clears everything in a fixed order.
#pragma once

#include <csignal>
#include <string>

#include "framework/memory.h"

namespace velmo {

class MessageStream;

class ModellApplication : public memory_handling {
 public:
  // Takes argument `position` of argv as its control file.
  ModellApplication(MessageStream* stream, int argc, char** argv, int position);
  ~ModellApplication() override = default;

  // Runs the time loop; returns 0, or 99 when the run was cancelled after
  // its current step.
  virtual int run();
  // Flushes the buffered outputs and releases the modules.
  virtual void ClearMemory();

  volatile std::sig_atomic_t interrupt_state = 0;
  std::string control_file;
  bool run_finished = false;
};

}  // namespace velmo
