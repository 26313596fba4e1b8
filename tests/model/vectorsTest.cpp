// Vector helpers: where snapping starts and stops, and the zero and NaN cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/vectors.h"

TEST(SnapUnit, SnapsOnlyStrictlyWithinOneMillionth) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value, snapped;
  } cases[] = {
      {9.99e-7, 0.0},       {-9.99e-7, 0.0},    {1e-6, 1e-6},         {-1e-6, -1e-6},
      {1 - 9.99e-7, 1.0},   {1 + 9.99e-7, 1.0}, {1 - 2e-6, 1 - 2e-6}, {-1 + 9.99e-7, -1.0},
      {-1 - 9.99e-7, -1.0}, {0.5, 0.5},         {nan, 0.0},           {inf, inf},
      {-0.0, 0.0},
  };
  for (const auto& t : cases) {
    double got = snapUnit(t.value);
    EXPECT_EQ(got, t.snapped) << t.value;
    if (t.snapped == 0.0) {
      EXPECT_FALSE(std::signbit(got)) << t.value << " snaps to +0";
    }
  }
}

TEST(NormalizeSnapped, UnitLengthSnappedAndZeroForZero) {
  const struct {
    Vec3 in, out;
  } cases[] = {
      {{0, 0, 2}, {0, 0, 1}},
      {{0, 0, 0}, {0, 0, 0}},
      {{3, 4, 0}, {0.6, 0.8, 0}},
      {{-5e-7, 1, 0}, {0, 1, 0}},
      // The squared length underflows to 0: the quotients are taken as they come.
      {{0, -1e-300, 0}, {0, -std::numeric_limits<double>::infinity(), 0}},
  };
  for (const auto& t : cases) {
    Vec3 n = normalizeSnapped(t.in);
    EXPECT_EQ(n.x, t.out.x);
    EXPECT_EQ(n.y, t.out.y);
    EXPECT_EQ(n.z, t.out.z);
  }
}

TEST(AbsAtLeastOne, DivisorNeverBelowOne) {
  EXPECT_EQ(absAtLeastOne(0.5), 1.0);
  EXPECT_EQ(absAtLeastOne(-3.0), 3.0);
  EXPECT_EQ(absAtLeastOne(-1.0), 1.0);
  EXPECT_EQ(absAtLeastOne(0.0), 1.0);
}
