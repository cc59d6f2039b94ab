// The Ctrl-C handler with real SIGINTs raised in the test process: a press is
// kept while no application is current, held while a file is read or
// written, and changes nothing while the application is already marked.
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
  std::raise(SIGINT);  // one press is kept, not counted
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

TEST_F(InterruptHandler, PressesChangeNothingWhileTheApplicationIsMarked) {
  SetCurrentInterruptState(&state);
  for (const int marked : {1, 99, -1}) {
    state = marked;
    std::raise(SIGINT);
    EXPECT_EQ(state, marked);
  }
  // The handler stays installed after every press.
  struct sigaction action {};
  sigaction(SIGINT, nullptr, &action);
  EXPECT_EQ(action.sa_handler, &OnInterrupt);
}

}  // namespace
}  // namespace velmo
