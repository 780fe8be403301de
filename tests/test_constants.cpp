#include <gtest/gtest.h>

#include "engine/Constants.h"

TEST(Constants, Placeholder) { EXPECT_EQ(sn::DbToGain(0), 1.0f); }
