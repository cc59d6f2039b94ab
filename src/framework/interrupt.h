// Process-level Ctrl-C handling: the handler only marks the current
// application; the time loop shows the menu at the start of its next pass.
#pragma once

#include <csignal>

namespace velmo {

// The interrupt state of the application being run, or none. Set by the
// entry point only, after an application has been constructed.
void SetCurrentInterruptState(volatile std::sig_atomic_t* state);
volatile std::sig_atomic_t* CurrentInterruptState();

// SIGINT handler: ignores further presses until re-armed and marks the
// current application (0 -> 1).
void OnInterrupt(int signal_number);
// Installs OnInterrupt for SIGINT.
void ArmInterruptHandler();
// Gives SIGINT its default action.
void ResetInterruptHandler();
// Ignores SIGINT while a file is read or written.
void SuspendInterruptHandler();

// Ignores Ctrl-C for its lifetime and re-arms the handler afterwards, so a
// file operation is never cut short and the menu is always reachable.
class InterruptGuard {
 public:
  InterruptGuard() { SuspendInterruptHandler(); }
  ~InterruptGuard() { ArmInterruptHandler(); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

}  // namespace velmo
