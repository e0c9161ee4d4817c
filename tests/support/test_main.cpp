#include <gtest/gtest.h>

#include "kelvara_test/test_env.h"

int main(int argc, char** argv) {
  kelvara::test::SetUpTestHome();
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  kelvara::test::TearDownTestHome();
  return rc;
}
