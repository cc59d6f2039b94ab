// Signal handling: Ctrl-C marks the current application, SIGTERM and SIGHUP
// ask the run to end, a second signal of either kind ends the process at once.
#include "framework/interrupt.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <ctime>

namespace velmo {
namespace {

// Read by the signal handlers: a lock-free atomic keeps the hand-over safe.
std::atomic<volatile std::sig_atomic_t*> current_state{nullptr};
static_assert(std::atomic<volatile std::sig_atomic_t*>::is_always_lock_free);
// A press that found no application, or came during a file operation, for
// the application.
volatile std::sig_atomic_t kept_press = 0;
// Depth of nested file operations that hold a press.
volatile std::sig_atomic_t hold_depth = 0;
// The stop signal received, 0: none.
volatile std::sig_atomic_t stop_signal = 0;

// What ending at once closes, registered by the owners (see the header).
struct end_files {
  std::atomic<int> diag_fd{-1};
  std::atomic<long long> diag_complete_size{0};
  std::atomic<long> utc_offset_seconds{0};
  std::atomic<bool> lock_held{false};
  char lock_path[PATH_MAX] = {};
};
static_assert(std::atomic<long long>::is_always_lock_free);
end_files registered;

constexpr long kSecondsPerDay = 86400;

void SetAction(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // a signal must not make a blocking read or open fail
  sigaction(signal_number, &action, nullptr);
}

// Blocks SIGINT until the guard goes, so that a hand-over does not meet a
// press half-way.
class interrupts_blocked {
 public:
  interrupts_blocked() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, &before_);
  }
  ~interrupts_blocked() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  interrupts_blocked(const interrupts_blocked&) = delete;
  interrupts_blocked& operator=(const interrupts_blocked&) = delete;

 private:
  sigset_t before_;
};

// write(2) alone: what a signal handler may call.
void WriteTo(int fd, const char* text) {
  ssize_t written = write(fd, text, std::strlen(text));
  (void)written;
}

void Say(const char* text) { WriteTo(STDOUT_FILENO, text); }

void SayPressed() { Say("\nCntr-C pressed! please wait...\n\n"); }

// Writes `value` (>= 0) with at least `digits` digits at `out`; returns the end.
char* PutNumber(char* out, long long value, int digits) {
  char reversed[24];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 20);
  while (n < digits) reversed[n++] = '0';
  while (n > 0) *out++ = reversed[--n];
  return out;
}

// The local time stamp (YYYY-MM-DDTHH:MM:SS) of the diagnostics file without
// localtime, which a signal handler must not call: the offset from UTC was
// taken when the file was registered.
void LocalTimeStampAtOnce(char* out) {
  const long long t = static_cast<long long>(std::time(nullptr)) + registered.utc_offset_seconds.load();
  long long days = t / kSecondsPerDay;
  long long seconds = t % kSecondsPerDay;
  if (seconds < 0) {
    seconds += kSecondsPerDay;
    --days;
  }
  // Civil date from a day count (days since 1970-01-01), proleptic Gregorian.
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long day_of_era = days - era * 146097;
  const long long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long month_index = (5 * day_of_year + 2) / 153;
  const long long day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const long long month = month_index < 10 ? month_index + 3 : month_index - 9;
  const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  out = PutNumber(out, year, 4);
  *out++ = '-';
  out = PutNumber(out, month, 2);
  *out++ = '-';
  out = PutNumber(out, day, 2);
  *out++ = 'T';
  out = PutNumber(out, seconds / 3600, 2);
  *out++ = ':';
  out = PutNumber(out, seconds / 60 % 60, 2);
  *out++ = ':';
  out = PutNumber(out, seconds % 60, 2);
  *out = '\0';
}

}  // namespace

void SetCurrentInterruptState(volatile std::sig_atomic_t* state) {
  interrupts_blocked blocked;
  current_state.store(state);
  if (state && kept_press != 0 && hold_depth == 0 && *state == 0) {
    *state = 1;
    kept_press = 0;
  }
}

volatile std::sig_atomic_t* CurrentInterruptState() { return current_state.load(); }

void OnInterrupt(int /*signal_number*/) {
  volatile std::sig_atomic_t* state = current_state.load();
  // The first press has not been answered: the program may be held where no
  // step ends (a read that never returns).
  if (kept_press != 0 || (state && *state == 1))
    EndAtOnce(kInterruptEndNowCode, "program killed by pressing Ctrl-C twice!");
  if (!state || hold_depth > 0) {
    kept_press = 1;
    SayPressed();
    return;
  }
  if (*state != 0) return;
  *state = 1;
  SayPressed();
}

void ArmInterruptHandler() { SetAction(SIGINT, OnInterrupt); }
void ResetInterruptHandler() { SetAction(SIGINT, SIG_DFL); }

void HoldInterrupts() {
  interrupts_blocked blocked;
  hold_depth = hold_depth + 1;
}

void ReleaseInterrupts() {
  interrupts_blocked blocked;
  if (hold_depth > 0) hold_depth = hold_depth - 1;
  if (hold_depth > 0) return;
  ArmInterruptHandler();
  volatile std::sig_atomic_t* state = current_state.load();
  if (state && kept_press != 0 && *state == 0) {
    *state = 1;
    kept_press = 0;
  }
}

void OnStopSignal(int signal_number) {
  if (stop_signal != 0) {
    EndAtOnce(ExitStatusOfSignal(signal_number),
              signal_number == SIGHUP ? "SIGHUP while the run was being ended: it ends at once"
                                      : "SIGTERM while the run was being ended: it ends at once");
  }
  stop_signal = signal_number;
  Say(signal_number == SIGHUP ? "\nSIGHUP received: the run ends after its current step\n"
                              : "\nSIGTERM received: the run ends after its current step\n");
}

void ArmStopHandlers() {
  SetAction(SIGTERM, OnStopSignal);
  SetAction(SIGHUP, OnStopSignal);
  SetAction(SIGXFSZ, SIG_IGN);
}

int PendingStopSignal() { return stop_signal; }

const char* StopSignalName(int signal_number) {
  switch (signal_number) {
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    default:
      return "a signal";
  }
}

void RegisterDiagnosticsFile(int fd, long long complete_size) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  registered.utc_offset_seconds = local.tm_gmtoff;
  registered.diag_complete_size = complete_size;
  registered.diag_fd = fd;
}

void NoteDiagnosticsComplete(int fd, long long complete_size) {
  if (registered.diag_fd.load() == fd) registered.diag_complete_size = complete_size;
}

void ForgetDiagnosticsFile(int fd) {
  int expected = fd;
  registered.diag_fd.compare_exchange_strong(expected, -1);
}

void RegisterRunLock(const char* path) {
  registered.lock_held = false;
  std::strncpy(registered.lock_path, path, sizeof registered.lock_path - 1);
  registered.lock_held = path[0] != '\0';
}

void ForgetRunLock() { registered.lock_held = false; }

void EndAtOnce(int status, const char* why) {
  Say("\n");
  Say(why);
  Say("\n");
  if (registered.lock_held) unlink(registered.lock_path);
  const int fd = registered.diag_fd.exchange(-1);
  if (fd >= 0) {
    // An entry being written when the signal came is cut off, so that the
    // file ends with whole elements.
    if (ftruncate(fd, static_cast<off_t>(registered.diag_complete_size.load())) == 0) {
      char status_text[24];
      *PutNumber(status_text, status, 1) = '\0';
      char stamp[32];
      LocalTimeStampAtOnce(stamp);
      for (const char* piece : {"\t<line level=\"2\" description= \"", why, "\"/>\n",
                                "\t<line level=\"0\" description= \"Program aborted with exit code ",
                                static_cast<const char*>(status_text), "\"/>\n",
                                "\t<line level=\"3\" description= \"Velmo finished at ",
                                static_cast<const char*>(stamp), "\"/>\n</Diag>\n"})
        WriteTo(fd, piece);
    }
  }
  _exit(status);
}

}  // namespace velmo
