// The Ctrl-C handler with real SIGINTs raised in the test process: a press is
// kept while no application is current, held while a file is read or
// written, changes nothing while the menu is open or the run is cancelled,
// and a second press while one is pending ends the process.
#include "framework/interrupt.h"

#include <gtest/gtest.h>

#include <csignal>

namespace velmo {
namespace {

struct InterruptHandler : ::testing::Test {
  void SetUp() override { ArmInterruptHandler(); }
  void TearDown() override {
    SetCurrentInterruptState(nullptr);
    ResetInterruptHandler();
  }
  volatile std::sig_atomic_t state = 0;
};

TEST_F(InterruptHandler, APressWithoutAnApplicationIsKeptForTheNextOne) {
  SetCurrentInterruptState(nullptr);
  std::raise(SIGINT);
  EXPECT_EQ(state, 0);
  SetCurrentInterruptState(&state);
  EXPECT_EQ(state, 1);
  // Used up: the next application starts unmarked.
  volatile std::sig_atomic_t next = 0;
  SetCurrentInterruptState(&next);
  EXPECT_EQ(next, 0);
}

TEST_F(InterruptHandler, APressDuringAFileOperationIsHeldUntilItsEnd) {
  SetCurrentInterruptState(&state);
  {
    InterruptGuard outer;
    {
      InterruptGuard inner;
      std::raise(SIGINT);
    }
    EXPECT_EQ(state, 0);  // still held by the outer operation
  }
  EXPECT_EQ(state, 1);
}

TEST_F(InterruptHandler, PressesChangeNothingWhileTheMenuIsOpenOrTheRunIsCancelled) {
  SetCurrentInterruptState(&state);
  for (const int marked : {99, -1}) {
    state = marked;
    std::raise(SIGINT);
    EXPECT_EQ(state, marked);
  }
  // The handler stays installed after every press.
  struct sigaction action {};
  sigaction(SIGINT, nullptr, &action);
  EXPECT_EQ(action.sa_handler, &OnInterrupt);
}

// A press while the first one is still pending (the program may wait in a
// read that never returns) ends the process as the menu's "cancel now" does.
TEST_F(InterruptHandler, ASecondPressWhileOneIsPendingEndsTheProcess) {
  const auto second_press = [](bool with_application, bool in_file_operation) {
    volatile std::sig_atomic_t marked = 0;
    SetCurrentInterruptState(with_application ? &marked : nullptr);
    if (in_file_operation) HoldInterrupts();
    std::raise(SIGINT);
    std::raise(SIGINT);
    std::_Exit(0);
  };
  EXPECT_EXIT(second_press(true, false), ::testing::ExitedWithCode(kInterruptEndNowCode), "");
  EXPECT_EXIT(second_press(true, true), ::testing::ExitedWithCode(kInterruptEndNowCode), "");
  EXPECT_EXIT(second_press(false, false), ::testing::ExitedWithCode(kInterruptEndNowCode), "");
}

}  // namespace
}  // namespace velmo
