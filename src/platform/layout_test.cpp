#include <gtest/gtest.h>
#include "platform/ole.h"
TEST(Layout, Placeholder) { EXPECT_EQ(sizeof(VARIANT), 24u); }
