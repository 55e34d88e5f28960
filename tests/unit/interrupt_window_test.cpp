// When Ctrl+C and Ctrl+Break are left to the child the setup waits for.
#include "process/interrupt_window.hpp"

#include <gtest/gtest.h>

namespace {

TEST(InterruptWindow, InterruptsAreTheChildsFromTheWaitUntilAMomentAfterIt) {
  process::InterruptWindow window;
  EXPECT_FALSE(window.leaves_to_child(true, 5'000));  // before any wait
  window.open();
  EXPECT_TRUE(window.leaves_to_child(true, 5'000));
  EXPECT_TRUE(window.leaves_to_child(true, 1'000'000'000));
  EXPECT_FALSE(window.leaves_to_child(false, 5'000));  // closing the window, logging off, shutting down
  window.close(9'000);
  EXPECT_TRUE(window.leaves_to_child(true, 9'000 + process::InterruptWindow::grace_ms - 1));
  EXPECT_FALSE(window.leaves_to_child(true, 9'000 + process::InterruptWindow::grace_ms));
  EXPECT_FALSE(window.leaves_to_child(false, 9'000));
}

}  // namespace
