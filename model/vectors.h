#pragma once
// Vector operations on (x, y, z) triples of doubles, shared by every geometric step.
// Each is written out in the stated order of operations: results are bit-exact.
#include <cmath>

struct Vec3 {
  double x, y, z;
};

inline Vec3 operator-(const Vec3& a, const Vec3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// a.x*b.x + a.y*b.y + a.z*b.z
inline double dot(const Vec3& a, const Vec3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double vectorLength(const Vec3& a) {
  return std::sqrt(dot(a, a));
}
// vectorLength(b - a)
inline double distance(const Vec3& a, const Vec3& b) {
  return vectorLength(b - a);
}
// dot(b - a, b - a)
inline double squaredDistance(const Vec3& a, const Vec3& b) {
  Vec3 d = b - a;
  return dot(d, d);
}
// 0 within 1e-6 of 0 (and for NaN), +1 within 1e-6 of 1, -1 within 1e-6 of -1, else v.
inline double snapUnit(double v) {
  if (std::isnan(v)) return 0.0;
  if (std::fabs(v) < 1e-6) return 0.0;
  if (std::fabs(v - 1.0) < 1e-6) return 1.0;
  if (std::fabs(v + 1.0) < 1e-6) return -1.0;
  return v;
}
// Each component divided by the length, then snapped; a zero vector gives (0, 0, 0).
inline Vec3 normalizeSnapped(const Vec3& a) {
  double length = vectorLength(a);
  return {snapUnit(a.x / length), snapUnit(a.y / length), snapUnit(a.z / length)};
}
// abs(v) when it is at least 1, else 1: the divisor of relative differences.
inline double absAtLeastOne(double v) {
  double a = std::fabs(v);
  return a >= 1.0 ? a : 1.0;
}
