// Ctrl-C handling: the signal handler that marks the current application, and arming it.
#include "framework/interrupt.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>

namespace velmo {
namespace {

// Read by the signal handler: a lock-free atomic keeps the hand-over safe.
std::atomic<volatile std::sig_atomic_t*> current_state{nullptr};
static_assert(std::atomic<volatile std::sig_atomic_t*>::is_always_lock_free);
// A press that found no application, for the next one.
volatile std::sig_atomic_t kept_press = 0;
// Depth of nested file operations that hold SIGINT.
int hold_depth = 0;

void SetAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a key press must not make a blocking read or open fail
  sigaction(SIGINT, &action, nullptr);
}

void MaskInterrupts(int how) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(how, &set, nullptr);
}

void SayPressed() {
  static const char kMessage[] = "\nCntr-C pressed! please wait...\n\n";
  ssize_t written = write(STDOUT_FILENO, kMessage, sizeof kMessage - 1);
  (void)written;
}

}  // namespace

void SetCurrentInterruptState(volatile std::sig_atomic_t* state) {
  // The hand-over must not meet a press half-way.
  MaskInterrupts(SIG_BLOCK);
  current_state.store(state);
  if (state && kept_press != 0 && *state == 0) {
    *state = 1;
    kept_press = 0;
  }
  if (hold_depth == 0) MaskInterrupts(SIG_UNBLOCK);
}

volatile std::sig_atomic_t* CurrentInterruptState() { return current_state.load(); }

void OnInterrupt(int /*signal_number*/) {
  volatile std::sig_atomic_t* state = current_state.load();
  if (!state) {
    if (kept_press == 0) SayPressed();
    kept_press = 1;
    return;
  }
  if (*state != 0) return;
  *state = 1;
  SayPressed();
}

void ArmInterruptHandler() { SetAction(OnInterrupt); }
void ResetInterruptHandler() { SetAction(SIG_DFL); }

void HoldInterrupts() {
  if (hold_depth++ == 0) MaskInterrupts(SIG_BLOCK);
}

void ReleaseInterrupts() {
  if (hold_depth > 0 && --hold_depth > 0) return;
  ArmInterruptHandler();
  MaskInterrupts(SIG_UNBLOCK);
}

}  // namespace velmo
