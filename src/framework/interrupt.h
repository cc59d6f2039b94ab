// Process-level signal handling.
//
// Ctrl-C: the handler only marks the current application; the time loop
// shows the menu at the start of its next pass. A press is never lost: one
// that comes while no application is current (its set-up, between two
// control files) is kept for the next application, one that comes while a
// file is read or written is held until the file operation ends. A second
// press while the first is still pending (a read that never returns) ends
// the process at once, as the menu's "cancel now" does.
//
// SIGTERM and SIGHUP (a scheduler's time limit, a closed terminal) ask the
// run to end as a fatal error ends it: the time loop stops at its next step,
// writes the rows of the steps computed and ends with 128 + the signal's
// number. A second one while the first is being served ends the process at
// once. SIGXFSZ is ignored, so that a file that reaches the file-size limit
// fails its write and is reported like a full disk.
//
// Ending at once runs in the signal handler: it removes the run's lock file
// and closes the diagnostics file well-formed, with what the main thread has
// registered here beforehand.
#pragma once

#include <csignal>

namespace velmo {

// Code of a run ended at once by Ctrl-C (the menu's "cancel now", or a
// second press while the first is pending).
inline constexpr int kInterruptEndNowCode = 98;

// The interrupt state of the application being run, or none. Set by the
// entry point only, after an application has been constructed; a press kept
// while there was none marks the application at once.
void SetCurrentInterruptState(volatile std::sig_atomic_t* state);
volatile std::sig_atomic_t* CurrentInterruptState();

// SIGINT handler: marks the current application (0 -> 1) or, without one or
// during a file operation, keeps the press; a press while the application is
// being cancelled or has its menu open changes nothing; a press while one is
// pending ends the process with the code of the menu's "cancel now".
void OnInterrupt(int signal_number);
// Installs OnInterrupt for SIGINT.
void ArmInterruptHandler();
// Gives SIGINT its default action.
void ResetInterruptHandler();
// While a file is read or written a press is held, so that the operation is
// never cut short; ReleaseInterrupts lets a held press through to the
// application. Calls nest.
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

// SIGTERM and SIGHUP: the first is noted for the time loop, a second ends
// the process at once with 128 + its number.
void OnStopSignal(int signal_number);
// Installs OnStopSignal for SIGTERM and SIGHUP and ignores SIGXFSZ.
void ArmStopHandlers();
// The stop signal received (0: none).
int PendingStopSignal();
// "SIGTERM", "SIGHUP", ...: the name of a stop signal, for the messages.
const char* StopSignalName(int signal_number);
// The exit status of a process ended by `signal_number`, as a shell shows it.
inline constexpr int ExitStatusOfSignal(int signal_number) { return 128 + signal_number; }

// What ending at once needs. The diagnostics file: its descriptor (open for
// appending) and the size up to which it holds whole entries; the run's
// lock file. Each is registered by its owner and forgotten before it goes.
void RegisterDiagnosticsFile(int fd, long long complete_size);
void NoteDiagnosticsComplete(int fd, long long complete_size);
void ForgetDiagnosticsFile(int fd);
void RegisterRunLock(const char* path);
void ForgetRunLock();
// Ends the process from a signal handler (async-signal-safe): `why` on the
// console and as a WARNING in the diagnostics file, which is then closed
// well-formed; the lock file removed; exit status `status`.
[[noreturn]] void EndAtOnce(int status, const char* why);

}  // namespace velmo
