#include "model/dxfPlacement.h"

#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;

Vec3 scaled(const Vec3& v, double s) {
  return {v.x * s, v.y * s, v.z * s};
}

Vec3 normalized(const Vec3& v) {
  return scaled(v, 1.0 / vectorLength(v));
}

// Cosine and sine of `degrees`, exact at multiples of 90 degrees.
void turnOf(double degrees, double* c, double* s) {
  double quarter = degrees / 90.0;
  if (std::isfinite(quarter) && quarter == std::floor(quarter)) {
    static const double kCos[4] = {1, 0, -1, 0}, kSin[4] = {0, 1, 0, -1};
    int k = static_cast<int>(std::fmod(quarter, 4.0));
    if (k < 0) k += 4;
    *c = kCos[k];
    *s = kSin[k];
    return;
  }
  *c = std::cos(degrees * kPi / 180.0);
  *s = std::sin(degrees * kPi / 180.0);
}

// a after b: p -> a(b(p)).
Placement compose(const Placement& a, const Placement& b) {
  if (a.identity) return b;
  Placement out{};
  for (int i = 0; i < 3; ++i) {
    const Vec3& r = a.rows[i];
    out.rows[i] = {r.x * b.rows[0].x + r.y * b.rows[1].x + r.z * b.rows[2].x,
                   r.x * b.rows[0].y + r.y * b.rows[1].y + r.z * b.rows[2].y,
                   r.x * b.rows[0].z + r.y * b.rows[1].z + r.z * b.rows[2].z};
  }
  out.offset = placePoint(a, b.offset);
  return out;
}

}  // namespace

Placement identityPlacement() noexcept {
  Placement p{};
  p.rows[0] = {1, 0, 0};
  p.rows[1] = {0, 1, 0};
  p.rows[2] = {0, 0, 1};
  p.identity = true;
  return p;
}

Vec3 placePoint(const Placement& placement, const Vec3& p) noexcept {
  if (placement.identity) return p;
  return {dot(placement.rows[0], p) + placement.offset.x,
          dot(placement.rows[1], p) + placement.offset.y,
          dot(placement.rows[2], p) + placement.offset.z};
}

void arbitraryAxes(Vec3 normal, Vec3* xAxis, Vec3* yAxis, Vec3* zAxis) noexcept {
  double length = vectorLength(normal);
  normal = std::isfinite(length) && length > 0 ? scaled(normal, 1.0 / length) : Vec3{0, 0, 1};
  constexpr double kNearZ = 1.0 / 64.0;
  Vec3 x = std::fabs(normal.x) < kNearZ && std::fabs(normal.y) < kNearZ ? cross({0, 1, 0}, normal)
                                                                        : cross({0, 0, 1}, normal);
  *xAxis = normalized(x);
  *yAxis = normalized(cross(normal, *xAxis));
  *zAxis = normal;
}

Placement insertPlacement(const Placement& outer, const InsertGroups& insert, const Vec3& base,
                          int32_t column, int32_t row) noexcept {
  double c = 1, s = 0;
  turnOf(insert.rotation, &c, &s);
  // In the insert's object coordinates: q = p0 + R (cell + S (p - base)).
  const Vec3 cell = {column * insert.columnSpacing, row * insert.rowSpacing, 0};
  const Vec3& k = insert.scale;
  Placement local{};
  local.rows[0] = {c * k.x, -s * k.y, 0};
  local.rows[1] = {s * k.x, c * k.y, 0};
  local.rows[2] = {0, 0, k.z};
  Vec3 shift = {cell.x - k.x * base.x, cell.y - k.y * base.y, -k.z * base.z};
  local.offset = {c * shift.x - s * shift.y + insert.insertion.x,
                  s * shift.x + c * shift.y + insert.insertion.y, shift.z + insert.insertion.z};
  // Object coordinates to world: columns are the arbitrary axes.
  Vec3 ax, ay, az;
  arbitraryAxes(insert.extrusion, &ax, &ay, &az);
  Placement world{};
  world.rows[0] = {ax.x, ay.x, az.x};
  world.rows[1] = {ax.y, ay.y, az.y};
  world.rows[2] = {ax.z, ay.z, az.z};
  return compose(outer, compose(world, local));
}
