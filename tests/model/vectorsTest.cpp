// Vector helpers: where snapping starts and stops, the zero, NaN and underflow cases, and the
// divisor of relative differences. Results are compared bit for bit (+0 and -0 differ).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "model/vectors.h"

namespace {
uint64_t bits(double v) {
  return std::bit_cast<uint64_t>(v);
}
}  // namespace

TEST(Vectors, SnapUnitSnapsOnlyStrictlyWithinOneMillionth) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const double cases[][2] = {
      {9.99e-7, 0.0},       {-9.99e-7, 0.0},    {1e-6, 1e-6},         {-1e-6, -1e-6},
      {1 - 9.99e-7, 1.0},   {1 + 9.99e-7, 1.0}, {1 - 2e-6, 1 - 2e-6}, {-1 + 9.99e-7, -1.0},
      {-1 - 9.99e-7, -1.0}, {0.5, 0.5},         {-0.0, 0.0},          {inf, inf},
      {nan, 0.0},
  };
  for (const auto& t : cases)
    EXPECT_EQ(bits(snapUnit(t[0])), bits(t[1])) << t[0];
}

TEST(Vectors, NormalizeSnappedAndDivisor) {
  // {0, -1e-300, 0}: the squared length underflows to 0, the quotients are taken as they come.
  const double inf = std::numeric_limits<double>::infinity();
  const Vec3 cases[][2] = {
      {{0, 0, 2}, {0, 0, 1}},     {{0, 0, 0}, {0, 0, 0}},          {{3, 4, 0}, {0.6, 0.8, 0}},
      {{-5e-7, 1, 0}, {0, 1, 0}}, {{0, -1e-300, 0}, {0, -inf, 0}},
  };
  for (const auto& [in, out] : cases) {
    Vec3 n = normalizeSnapped(in);
    EXPECT_TRUE(bits(n.x) == bits(out.x) && bits(n.y) == bits(out.y) && bits(n.z) == bits(out.z))
        << in.x << " " << in.y << " " << in.z;
  }
  for (const auto& [v, divisor] : {std::pair{0.5, 1.0}, {-3.0, 3.0}, {-1.0, 1.0}, {0.0, 1.0}})
    EXPECT_EQ(absAtLeastOne(v), divisor) << v;
}
