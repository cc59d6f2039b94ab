// Ctrl-C handling: the signal handler that marks the current application, and arming it.
#include "framework/interrupt.h"

#include <unistd.h>

#include <atomic>

namespace velmo {
namespace {

// Read by the signal handler: a lock-free atomic keeps the hand-over safe.
std::atomic<volatile std::sig_atomic_t*> current_state{nullptr};
static_assert(std::atomic<volatile std::sig_atomic_t*>::is_always_lock_free);

void SetAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a key press must not make a blocking read or open fail
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

void SetCurrentInterruptState(volatile std::sig_atomic_t* state) { current_state.store(state); }
volatile std::sig_atomic_t* CurrentInterruptState() { return current_state.load(); }

void OnInterrupt(int /*signal_number*/) {
  SetAction(SIG_IGN);
  volatile std::sig_atomic_t* state = current_state.load();
  if (!state || *state != 0) return;
  *state = 1;
  static const char kMessage[] = "\nCntr-C pressed! please wait...\n\n";
  ssize_t written = write(STDOUT_FILENO, kMessage, sizeof kMessage - 1);
  (void)written;
}

void ArmInterruptHandler() { SetAction(OnInterrupt); }
void ResetInterruptHandler() { SetAction(SIG_DFL); }
void SuspendInterruptHandler() { SetAction(SIG_IGN); }

}  // namespace velmo
