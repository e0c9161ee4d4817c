#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "kelvara_test/test_env.h"

int main(int argc, char** argv) {
  kelvara::test::SetUpTestHome();
  // Widget tests never need a display.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  kelvara::test::TearDownTestHome();
  return rc;
}
