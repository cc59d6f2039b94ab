// Process-level Ctrl-C handling: the handler only marks the current
// application; the time loop shows the menu at the start of its next pass.
// A press is never lost: one that comes while no application is current (its
// set-up, between two control files) is kept for the next application, one
// that comes while a file is read or written is held until the file
// operation ends.
#pragma once

#include <csignal>

namespace velmo {

// The interrupt state of the application being run, or none. Set by the
// entry point only, after an application has been constructed; a press kept
// while there was none marks the application at once.
void SetCurrentInterruptState(volatile std::sig_atomic_t* state);
volatile std::sig_atomic_t* CurrentInterruptState();

// SIGINT handler: marks the current application (0 -> 1) or, without one,
// keeps the press; a press while the application is already marked, has its
// menu open or is being cancelled changes nothing.
void OnInterrupt(int signal_number);
// Installs OnInterrupt for SIGINT.
void ArmInterruptHandler();
// Gives SIGINT its default action.
void ResetInterruptHandler();
// While a file is read or written SIGINT is held (blocked, so that a press
// stays pending); ReleaseInterrupts installs the handler and lets a held
// press through. Calls nest.
void HoldInterrupts();
void ReleaseInterrupts();

// Holds Ctrl-C for its lifetime, so a file operation is never cut short,
// and re-arms the handler afterwards, so that a press is answered.
class InterruptGuard {
 public:
  InterruptGuard() { HoldInterrupts(); }
  ~InterruptGuard() { ReleaseInterrupts(); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;
};

}  // namespace velmo
