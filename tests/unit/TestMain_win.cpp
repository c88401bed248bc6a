#include <gtest/gtest.h>

#include <windows.h>

int main(int argc, char** argv) {
  // No Windows error boxes for a crashing or failing test: they would wait
  // for a click under Wine and stall the run.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
