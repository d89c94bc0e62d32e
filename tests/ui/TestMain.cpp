// The window tests run inside the real application object, so that exceptions escaping a handler
// reach the exception display as they do in the program.
#include "KorvaneApp.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The window's looks are tested in the style it is measured with, whatever the desktop prefers.
  unsetenv("QT_STYLE_OVERRIDE");
  ::testing::InitGoogleTest(&argc, argv);
  TKorvaneApp app(argc, argv);
  return RUN_ALL_TESTS();
}
