#include <gtest/gtest.h>

#include "pal/module.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Test programs link the library's core statically, so no loader attaches it: do it here.
  zul::ProcessAttach();
  return RUN_ALL_TESTS();
}
