#include "bench/modelGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace benchgen {
namespace {

constexpr double kUnitsPerOne = 100000.0;  // coordinates are whole multiples of 0.00001
constexpr double kPi = 3.141592653589793;
constexpr int32_t kSmallestShapedPart = 24;  // below this a part is always a patch

int64_t toUnits(double value) {
  return std::llround(value * kUnitsPerOne);
}

// splitmix64: the same sequence on every compiler and library, unlike <random>'s distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Evenly in [0, n); n > 0.
  uint64_t below(uint64_t n) { return next() % n; }
  int64_t between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo + 1)));
  }
  // A length in [lo, hi] as a whole number of units.
  int64_t lengthUnits(double lo, double hi) { return between(toUnits(lo), toUnits(hi)); }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double in(double lo, double hi) { return lo + (hi - lo) * unit(); }

 private:
  uint64_t state_;
};

const char* const kLayerPool[] = {"WALL", "ROOF",  "FLOOR", "GLASS", "FRAME",
                                  "TRIM", "METAL", "WOOD",  "STONE", "PIPE"};
constexpr int kLayerPoolSize = sizeof(kLayerPool) / sizeof(kLayerPool[0]);
constexpr int kMaxPartLayers = 3;

// Collects one part's faces in local coordinates; local layer k becomes layers[k].
struct PartBuilder {
  std::vector<GenFace>* faces;
  int32_t part;
  int32_t layers[kMaxPartLayers];

  void quad(const GridPoint& a, const GridPoint& b, const GridPoint& c, const GridPoint& d,
            int localLayer) {
    faces->push_back(GenFace{{a, b, c, d}, 4, layers[localLayer], part});
  }
  void triangle(const GridPoint& a, const GridPoint& b, const GridPoint& c, int localLayer) {
    faces->push_back(GenFace{{a, b, c, c}, 3, layers[localLayer], part});
  }
};

// Grid coordinate `index` of `count` steps over `length` (all non-negative): whole units, so a
// point shared by several faces is computed the same way for each of them.
int64_t gridStep(int64_t length, int64_t index, int64_t count) {
  return length * index / count;
}

// Subdivided box, quads only: top, bottom and sides on three layers. Normals point outwards.
void addBox(PartBuilder& out, int32_t budget, Rng& rng) {
  int64_t size[3] = {rng.lengthUnits(1.0, 8.0), rng.lengthUnits(1.0, 8.0),
                     rng.lengthUnits(1.0, 8.0)};
  auto countsFor = [&](double t, int64_t counts[3]) {
    for (int a = 0; a < 3; ++a) {
      counts[a] =
          std::max<int64_t>(1, std::llround(static_cast<double>(size[a]) / kUnitsPerOne * t));
    }
    return 2 * (counts[0] * counts[1] + counts[1] * counts[2] + counts[2] * counts[0]);
  };
  int64_t counts[3];
  double lo = 0.0, hi = 1e4;
  for (int i = 0; i < 60; ++i) {
    double mid = 0.5 * (lo + hi);
    if (countsFor(mid, counts) <= budget)
      lo = mid;
    else
      hi = mid;
  }
  countsFor(lo, counts);
  auto coord = [&](int axis, int64_t index) {
    return gridStep(size[axis], index, counts[axis]) - size[axis] / 2;
  };
  // Per side: fixed axis, its sign, and the two in-plane axes with e1 x e2 pointing outwards.
  struct Side {
    int axis, sign, e1, e2;
  };
  const Side sides[6] = {{2, 1, 0, 1},  {2, -1, 1, 0}, {0, 1, 1, 2},
                         {0, -1, 2, 1}, {1, 1, 2, 0},  {1, -1, 0, 2}};
  for (const Side& s : sides) {
    int layer = s.axis == 2 ? (s.sign > 0 ? 0 : 1) : 2;
    int64_t fixedIndex = s.sign > 0 ? counts[s.axis] : 0;
    auto at = [&](int64_t u, int64_t v) {
      int64_t p[3];
      p[s.axis] = coord(s.axis, fixedIndex);
      p[s.e1] = coord(s.e1, u);
      p[s.e2] = coord(s.e2, v);
      return GridPoint{p[0], p[1], p[2]};
    };
    for (int64_t u = 0; u < counts[s.e1]; ++u) {
      for (int64_t v = 0; v < counts[s.e2]; ++v) {
        out.quad(at(u, v), at(u + 1, v), at(u + 1, v + 1), at(u, v + 1), layer);
      }
    }
  }
}

// Tube around the z axis: quad bands on two layers, with triangle-fan caps (third layer) or open.
void addTube(PartBuilder& out, int32_t budget, Rng& rng) {
  double radius = static_cast<double>(rng.lengthUnits(0.5, 4.0)) / kUnitsPerOne;
  int64_t height = rng.lengthUnits(1.0, 10.0);
  bool capped = rng.below(2) == 0;
  double aspect = 2.0 * kPi * radius / (static_cast<double>(height) / kUnitsPerOne);
  int64_t n = std::llround(std::sqrt(static_cast<double>(budget) * aspect));
  n = std::clamp<int64_t>(n, 8, capped ? budget / 3 : budget);
  int64_t m = std::max<int64_t>(1, (budget - (capped ? 2 * n : 0)) / n);
  std::vector<int64_t> cosines(n), sines(n);
  for (int64_t i = 0; i < n; ++i) {
    double angle = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n);
    cosines[i] = toUnits(radius * std::cos(angle));
    sines[i] = toUnits(radius * std::sin(angle));
  }
  auto ring = [&](int64_t i, int64_t j) {
    i %= n;
    return GridPoint{cosines[i], sines[i], gridStep(height, j, m) - height / 2};
  };
  for (int64_t j = 0; j < m; ++j) {
    for (int64_t i = 0; i < n; ++i) {
      out.quad(ring(i, j), ring(i + 1, j), ring(i + 1, j + 1), ring(i, j + 1), j < m / 2 ? 0 : 1);
    }
  }
  if (capped) {
    GridPoint top{0, 0, ring(0, m).z}, bottom{0, 0, ring(0, 0).z};
    for (int64_t i = 0; i < n; ++i) {
      out.triangle(top, ring(i, m), ring(i + 1, m), 2);
      out.triangle(bottom, ring(i + 1, 0), ring(i, 0), 2);
    }
  }
}

// UV sphere: triangle fans at the poles, quads between; north, south and a meridian stripe.
void addSphere(PartBuilder& out, int32_t budget, Rng& rng) {
  // Segments around (n) by bands (m), n * m faces; prefer an exact split with n near 2m.
  int64_t m = std::max<int64_t>(2, std::llround(std::sqrt(budget / 2.0)));
  int64_t n = std::max<int64_t>(3, budget / m);
  for (int64_t delta = 0; delta <= m; ++delta) {
    bool found = false;
    for (int64_t candidate : {m - delta, m + delta}) {
      if (candidate >= 2 && budget % candidate == 0) {
        int64_t around = budget / candidate;
        if (around >= 3 && around >= candidate && around <= 4 * candidate) {
          m = candidate;
          n = around;
          found = true;
          break;
        }
      }
    }
    if (found) break;
  }
  // Neighbouring ring points near the poles are about radius * 2 pi^2 / (n m) apart; keep that
  // well above the 0.001 pairing tolerance.
  double radius = std::max(rng.in(1.0, 6.0), static_cast<double>(n * m) / 3000.0);
  int64_t r = toUnits(radius);
  std::vector<GridPoint> rings(static_cast<size_t>(n * (m - 1)));
  for (int64_t j = 1; j < m; ++j) {
    double polar = kPi * static_cast<double>(j) / static_cast<double>(m);
    for (int64_t i = 0; i < n; ++i) {
      double azimuth = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n);
      rings[(j - 1) * n + i] = {toUnits(radius * std::sin(polar) * std::cos(azimuth)),
                                toUnits(radius * std::sin(polar) * std::sin(azimuth)),
                                toUnits(radius * std::cos(polar))};
    }
  }
  auto at = [&](int64_t i, int64_t j) { return rings[(j - 1) * n + i % n]; };
  const GridPoint north{0, 0, r}, south{0, 0, -r};
  auto layerOf = [&](int64_t i, int64_t j) { return i < n / 6 ? 2 : (j < m / 2 ? 0 : 1); };
  for (int64_t i = 0; i < n; ++i) {
    out.triangle(north, at(i, 1), at(i + 1, 1), layerOf(i, 0));
  }
  for (int64_t j = 1; j + 1 < m; ++j) {
    for (int64_t i = 0; i < n; ++i) {
      out.quad(at(i, j), at(i, j + 1), at(i + 1, j + 1), at(i + 1, j), layerOf(i, j));
    }
  }
  for (int64_t i = 0; i < n; ++i) {
    out.triangle(at(i, m - 1), south, at(i + 1, m - 1), layerOf(i, m - 1));
  }
}

// Terrain: a height field of triangles with alternating diagonals; high and low ground.
void addGrid(PartBuilder& out, int32_t budget, Rng& rng) {
  int64_t width = rng.lengthUnits(3.0, 12.0), depth = rng.lengthUnits(3.0, 12.0);
  double amplitude = rng.in(0.3, 1.5), fx = rng.in(0.3, 1.2), fy = rng.in(0.3, 1.2);
  double phaseX = rng.in(0.0, kPi), phaseY = rng.in(0.0, kPi);
  double cells = budget / 2.0;
  int64_t nx = std::max<int64_t>(
      1, std::llround(std::sqrt(cells * static_cast<double>(width) / static_cast<double>(depth))));
  int64_t ny = std::max<int64_t>(1, static_cast<int64_t>(cells) / nx);
  auto at = [&](int64_t i, int64_t j) {
    int64_t x = gridStep(width, i, nx) - width / 2;
    int64_t y = gridStep(depth, j, ny) - depth / 2;
    double z = amplitude * std::sin(fx * static_cast<double>(x) / kUnitsPerOne + phaseX) *
               std::cos(fy * static_cast<double>(y) / kUnitsPerOne + phaseY);
    return GridPoint{x, y, toUnits(z)};
  };
  for (int64_t j = 0; j < ny; ++j) {
    for (int64_t i = 0; i < nx; ++i) {
      GridPoint a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
      int layer = a.z + c.z > 0 ? 0 : 1;
      if ((i + j) % 2 == 0) {
        out.triangle(a, b, c, layer);
        out.triangle(a, c, d, layer);
      } else {
        out.triangle(a, b, d, layer);
        out.triangle(b, c, d, layer);
      }
    }
  }
}

// Stepped block: k steps extruded along y in m segments, closed by bottom, back and two sides
// (one rectangle per step column, so the sides meet the risers in T-junctions).
void addSteps(PartBuilder& out, int32_t budget, Rng& rng) {
  int64_t k = rng.between(3, 10);
  while (k > 1 && 3 * k + 1 + 2 * k > budget)
    --k;
  int64_t m = std::max<int64_t>(1, (budget - 2 * k) / (3 * k + 1));
  // Keep the segments along y at least 0.01 wide.
  int64_t width = std::max(rng.lengthUnits(1.0, 6.0), m * toUnits(0.01));
  std::vector<int64_t> xs(k + 1, 0), zs(k + 1, 0);
  for (int64_t i = 1; i <= k; ++i) {
    xs[i] = xs[i - 1] + rng.lengthUnits(0.3, 10.0 / static_cast<double>(k) + 0.3);
    zs[i] = zs[i - 1] + rng.lengthUnits(0.15, 0.6);
  }
  int64_t xShift = xs[k] / 2, zShift = zs[k] / 2;
  auto p = [&](int64_t x, int64_t j, int64_t z) {
    return GridPoint{x - xShift, gridStep(width, j, m) - width / 2, z - zShift};
  };
  for (int64_t j = 0; j < m; ++j) {
    for (int64_t i = 1; i <= k; ++i) {
      // riser at xs[i-1] facing -x, then tread at zs[i] facing +z
      out.quad(p(xs[i - 1], j, zs[i - 1]), p(xs[i - 1], j, zs[i]), p(xs[i - 1], j + 1, zs[i]),
               p(xs[i - 1], j + 1, zs[i - 1]), 1);
      out.quad(p(xs[i - 1], j, zs[i]), p(xs[i], j, zs[i]), p(xs[i], j + 1, zs[i]),
               p(xs[i - 1], j + 1, zs[i]), 0);
      // bottom cell facing -z
      out.quad(p(xs[i - 1], j, 0), p(xs[i - 1], j + 1, 0), p(xs[i], j + 1, 0), p(xs[i], j, 0), 2);
    }
    // back facing +x
    out.quad(p(xs[k], j, 0), p(xs[k], j + 1, 0), p(xs[k], j + 1, zs[k]), p(xs[k], j, zs[k]), 2);
  }
  for (int64_t i = 1; i <= k; ++i) {
    out.quad(p(xs[i - 1], 0, 0), p(xs[i], 0, 0), p(xs[i], 0, zs[i]), p(xs[i - 1], 0, zs[i]), 2);
    out.quad(p(xs[i - 1], m, 0), p(xs[i - 1], m, zs[i]), p(xs[i], m, zs[i]), p(xs[i], m, 0), 2);
  }
}

// Gently bent patch of exactly `faces` quads: full rows of c quads and one shorter last row.
void addPatch(PartBuilder& out, int32_t faces, Rng& rng) {
  int64_t c = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(std::sqrt(faces))));
  int64_t step = std::min(rng.lengthUnits(0.1, 0.5), toUnits(12.0) / c);
  double bend = rng.in(0.2, 1.0);
  int64_t half = c * step / 2;
  auto at = [&](int64_t u, int64_t v) {
    double s = static_cast<double>(u) / static_cast<double>(c);
    return GridPoint{u * step - half, v * step - half, toUnits(bend * std::sin(kPi * s))};
  };
  for (int64_t f = 0; f < faces; ++f) {
    int64_t u = f % c, v = f / c;
    out.quad(at(u, v), at(u + 1, v), at(u + 1, v + 1), at(u, v + 1), u < c / 2 ? 0 : 1);
  }
}

void addShape(Shape shape, PartBuilder& out, int32_t budget, Rng& rng) {
  switch (shape) {
    case Shape::box:
      addBox(out, budget, rng);
      break;
    case Shape::tube:
      addTube(out, budget, rng);
      break;
    case Shape::sphere:
      addSphere(out, budget, rng);
      break;
    case Shape::grid:
      addGrid(out, budget, rng);
      break;
    case Shape::steps:
      addSteps(out, budget, rng);
      break;
    case Shape::mixed:
    case Shape::patch:
      addPatch(out, budget, rng);
      break;
  }
}

// A rotation drawn evenly over all rotations (a random unit quaternion), row-major.
void randomRotation(Rng& rng, double m[9]) {
  double u1 = rng.unit(), u2 = 2.0 * kPi * rng.unit(), u3 = 2.0 * kPi * rng.unit();
  double a = std::sqrt(1.0 - u1), b = std::sqrt(u1);
  double w = a * std::sin(u2), x = a * std::cos(u2), y = b * std::sin(u3), z = b * std::cos(u3);
  const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
                       2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                       2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)};
  std::copy(r, r + 9, m);
}

void setMatrix(double m[9], std::initializer_list<double> values) {
  std::copy(values.begin(), values.end(), m);
}

// Corners of the reference quad that the pieces 1..4 of a split keep.
const int kPieceCorners[5][3] = {{0, 1, 2}, {0, 1, 2}, {0, 2, 3}, {0, 1, 3}, {1, 2, 3}};

void shuffle(std::vector<int32_t>& items, Rng& rng) {
  for (size_t i = items.size(); i > 1; --i)
    std::swap(items[i - 1], items[rng.below(i)]);
}

// Line output straight into a byte buffer flushed to a FILE in large blocks.
class DxfOut {
 public:
  explicit DxfOut(FILE* file) : file_(file) { buffer_.reserve(kBlock + 4096); }
  void line(const char* text) { line(text, std::strlen(text)); }
  void line(const char* text, size_t n) {
    buffer_.append(text, n);
    buffer_.append("\r\n", 2);
    if (buffer_.size() >= kBlock) flush();
  }
  void line(const std::string& text) { line(text.data(), text.size()); }
  void number(int64_t units) {
    char text[32];
    line(text, formatUnitsInto(units, text));
  }
  bool flush() {
    if (!buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
      failed_ = true;
    }
    buffer_.clear();
    return !failed_;
  }
  bool failed() const { return failed_; }
  static size_t formatUnitsInto(int64_t units, char* text) {
    char digits[24];
    uint64_t magnitude =
        units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude > 0 || count < 6);  // at least one digit before the five decimals
    size_t n = 0;
    if (units < 0) text[n++] = '-';
    for (int i = count - 1; i >= 0; --i) {
      text[n++] = digits[i];
      if (i == 5) text[n++] = '.';
    }
    text[n] = '\0';
    return n;
  }

 private:
  static constexpr size_t kBlock = 1 << 20;
  FILE* file_;
  std::string buffer_;
  bool failed_ = false;
};

// Runs `body` on a temporary file beside `path`, then renames it over `path`.
template <typename Body>
bool writeWhole(const std::string& path, Body body) {
  std::string temporary = path + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool ok = true;
  {
    DxfOut out(file);
    body(out);
    ok = out.flush();
  }
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

void writeCorners(DxfOut& out, const GridPoint corners[4], const char* const codes[12]) {
  for (int k = 0; k < 4; ++k) {
    out.line(codes[3 * k]);
    out.number(corners[k].x);
    out.line(codes[3 * k + 1]);
    out.number(corners[k].y);
    out.line(codes[3 * k + 2]);
    out.number(corners[k].z);
  }
}

// The motion of every moved part: the axis cycle or a random turn, a mirror, a place in the
// second grid or, for assembly members, their group's one motion; then the whole target's.
// Draws from its own generator, so pairs without these options stay as they were.
void assignMotions(GeneratedPair& pair, int64_t columns, int64_t rows, int64_t cell) {
  const GeneratorOptions& o = pair.options;
  Rng rng(o.seed * 0x9E3779B97F4A7C15ull + 777);
  const int32_t groups = std::max<int32_t>(0, o.assemblies);
  std::vector<double> groupTurns(static_cast<size_t>(groups) * 9);
  for (int32_t g = 0; g < groups; ++g)
    randomRotation(rng, &groupTurns[static_cast<size_t>(g) * 9]);
  const GridPoint pivot{columns * cell / 2, rows * cell / 2, 0};
  const int64_t span = 2 * (columns + rows + 2) * cell;
  int32_t movedCount = 0;
  for (GenPart& part : pair.parts) {
    part.assembly = -1;
    setMatrix(part.turn, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    part.from = part.place;
    part.to = part.movedPlace;
    if (!part.moved) continue;
    if (o.turn) setMatrix(part.turn, {0, 0, 1, 1, 0, 0, 0, 1, 0});  // (z, x, y)
    if (o.anyAngle) randomRotation(rng, part.turn);
    int32_t k = movedCount++;
    if (groups > 0 && k % 2 == 0) {
      part.assembly = (k / 2) % groups;
      std::copy_n(&groupTurns[static_cast<size_t>(part.assembly) * 9], 9, part.turn);
      part.from = pivot;
      part.to = {pivot.x, pivot.y, pivot.z + (part.assembly + 1) * span};
    } else if (o.mirror) {
      for (int r = 0; r < 3; ++r)
        part.turn[3 * r] = -part.turn[3 * r];  // x of the part mirrored first
    }
  }
  setMatrix(pair.globalTurn, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  if (o.swapAxes) setMatrix(pair.globalTurn, {1, 0, 0, 0, 0, -1, 0, 1, 0});
  pair.globalScale = o.scale > 0.0 ? o.scale : 1.0;
  pair.globalMotion = o.swapAxes || pair.globalScale != 1.0;
}

// Writes a share of the target's quads as two triangles (either diagonal, at random), the two
// halves shuffled apart; each half's truth is the quad.
void splitQuads(GeneratedPair& pair, uint64_t seed) {
  Rng rng(seed * 0xD1B54A32D192ED03ull + 99);
  std::vector<int32_t> order, rotation;
  std::vector<uint8_t> piece;
  for (size_t i = 0; i < pair.targetOrder.size(); ++i) {
    int32_t f = pair.targetOrder[i];
    if (pair.faces[f].cornerCount == 4 && rng.unit() < pair.options.splitShare) {
      uint8_t first = rng.below(2) == 0 ? 1 : 3;
      for (uint8_t p : {first, static_cast<uint8_t>(first + 1)}) {
        order.push_back(f);
        piece.push_back(p);
        rotation.push_back(static_cast<int32_t>(rng.below(3)));
      }
    } else {
      order.push_back(f);
      piece.push_back(0);
      rotation.push_back(pair.targetRotation[i]);
    }
  }
  std::vector<int32_t> shuffled(order.size());
  for (size_t i = 0; i < shuffled.size(); ++i)
    shuffled[i] = static_cast<int32_t>(i);
  shuffle(shuffled, rng);
  pair.targetOrder.resize(order.size());
  pair.targetRotation.resize(order.size());
  pair.targetPiece.resize(order.size());
  for (size_t i = 0; i < shuffled.size(); ++i) {
    pair.targetOrder[i] = order[shuffled[i]];
    pair.targetRotation[i] = static_cast<uint8_t>(rotation[shuffled[i]]);
    pair.targetPiece[i] = piece[shuffled[i]];
  }
}

}  // namespace

GeneratedPair generatePair(const GeneratorOptions& options) {
  GeneratedPair pair;
  pair.options = options;
  for (const char* name : kLayerPool)
    pair.layers.emplace_back(name);
  Rng rng(options.seed * 0x2545F4914F6CDD1Dull + 12345);

  const int64_t total = std::max<int64_t>(1, options.faces);
  const int32_t maxPart = std::max<int32_t>(1, options.maxPartFaces);
  const int32_t minPart = std::clamp<int32_t>(options.minPartFaces, 1, maxPart);
  const Shape shapeCycle[5] = {Shape::box, Shape::tube, Shape::sphere, Shape::grid, Shape::steps};
  int cyclePosition = 5;
  Shape cycle[5];
  pair.faces.reserve(static_cast<size_t>(total));

  auto startPart = [&](Shape shape) {
    PartBuilder builder{&pair.faces, static_cast<int32_t>(pair.parts.size()), {}};
    int first = static_cast<int>(rng.below(kLayerPoolSize));
    int stride = 1 + static_cast<int>(rng.below(kLayerPoolSize - 1));
    for (int k = 0; k < kMaxPartLayers; ++k)
      builder.layers[k] = (first + k * stride) % kLayerPoolSize;
    // a stride of 5 with 10 names repeats after two: that part just uses fewer layers
    GenPart part{};
    part.shape = shape;
    part.firstFace = static_cast<int32_t>(pair.faces.size());
    pair.parts.push_back(part);
    return builder;
  };
  auto endPart = [&]() {
    GenPart& part = pair.parts.back();
    part.faceCount = static_cast<int32_t>(pair.faces.size()) - part.firstFace;
  };
  auto nextShape = [&]() {
    if (options.shape != Shape::mixed) return options.shape;
    if (cyclePosition == 5) {
      std::copy(shapeCycle, shapeCycle + 5, cycle);
      for (int i = 4; i > 0; --i)
        std::swap(cycle[i], cycle[rng.below(i + 1)]);
      cyclePosition = 0;
    }
    return cycle[cyclePosition++];
  };

  if (options.singlePart) {
    Shape shape = options.shape == Shape::mixed ? Shape::sphere : options.shape;
    int32_t budget = static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX / 8));
    PartBuilder builder = startPart(shape);
    addShape(budget < kSmallestShapedPart ? Shape::patch : shape, builder, budget, rng);
    endPart();
  } else {
    int64_t left = total;
    while (left > 0) {
      int32_t budget = left <= maxPart ? static_cast<int32_t>(left)
                                       : static_cast<int32_t>(rng.between(minPart, maxPart));
      Shape shape = budget < kSmallestShapedPart ? Shape::patch : nextShape();
      PartBuilder builder = startPart(shape);
      addShape(shape, builder, budget, rng);
      endPart();
      left -= pair.parts.back().faceCount;
      if (left > 0 && left <= maxPart && budget == left + pair.parts.back().faceCount) {
        // the shape fell short of the last budget: a patch takes the exact rest
        PartBuilder rest = startPart(Shape::patch);
        addPatch(rest, static_cast<int32_t>(left), rng);
        endPart();
        left = 0;
      }
    }
  }

  // Copies: the same shape again, each layer k of it on layer k + 3 of the pool.
  for (int32_t c = 0, n = static_cast<int32_t>(pair.parts.size()); c < options.copies && c < n;
       ++c) {
    GenPart copy = pair.parts[c];
    copy.firstFace = static_cast<int32_t>(pair.faces.size());
    int32_t index = static_cast<int32_t>(pair.parts.size());
    for (int32_t f = 0; f < pair.parts[c].faceCount; ++f) {
      GenFace face = pair.faces[pair.parts[c].firstFace + f];
      face.layer = (face.layer + 3) % kLayerPoolSize;
      face.part = index;
      pair.faces.push_back(face);
    }
    pair.parts.push_back(copy);
  }

  // Lay the parts out in cells of a square grid, two units apart at least; moved parts go to
  // a second grid beside the first, in another order and slightly off their cell centres.
  int64_t reach = 0;
  for (const GenFace& face : pair.faces) {
    for (const GridPoint& p : face.corners) {
      for (int64_t v : {p.x, p.y, p.z})
        reach = std::max(reach, v < 0 ? -v : v);
    }
  }
  const int64_t cell = 2 * reach + toUnits(2.0);
  const int64_t partCount = static_cast<int64_t>(pair.parts.size());
  const int64_t columns = std::max<int64_t>(1, std::llround(std::ceil(std::sqrt(partCount))));
  const int64_t rows = (partCount + columns - 1) / columns;
  std::vector<int32_t> movedSlots(static_cast<size_t>(partCount));
  for (int64_t i = 0; i < partCount; ++i)
    movedSlots[i] = static_cast<int32_t>(i);
  shuffle(movedSlots, rng);
  for (int64_t i = 0; i < partCount; ++i) {
    GenPart& part = pair.parts[i];
    part.place = {(i % columns) * cell, (i / columns) * cell, 0};
    part.moved = options.movement == Movement::all ||
                 (options.movement == Movement::some && rng.below(2) == 0);
    int64_t slot = movedSlots[i];
    const int64_t jitter = toUnits(0.5);
    part.movedPlace = {(slot % columns) * cell + rng.between(-jitter, jitter),
                       (rows + 1 + slot / columns) * cell + rng.between(-jitter, jitter),
                       rng.between(-jitter, jitter)};
    for (int32_t f = part.firstFace; f < part.firstFace + part.faceCount; ++f) {
      for (GridPoint& p : pair.faces[f].corners) {
        p.x += part.place.x;
        p.y += part.place.y;
        p.z += part.place.z;
      }
    }
  }

  assignMotions(pair, columns, rows, cell);

  // Target order and corner rotation.
  const int32_t faceCount = static_cast<int32_t>(pair.faces.size());
  pair.targetOrder.reserve(faceCount);
  if (options.keepPartsTogether) {
    std::vector<int32_t> partOrder(static_cast<size_t>(partCount));
    for (int64_t i = 0; i < partCount; ++i)
      partOrder[i] = static_cast<int32_t>(i);
    shuffle(partOrder, rng);
    std::vector<int32_t> within;
    for (int32_t p : partOrder) {
      const GenPart& part = pair.parts[p];
      within.resize(part.faceCount);
      for (int32_t f = 0; f < part.faceCount; ++f)
        within[f] = part.firstFace + f;
      shuffle(within, rng);
      pair.targetOrder.insert(pair.targetOrder.end(), within.begin(), within.end());
    }
  } else {
    pair.targetOrder.resize(faceCount);
    for (int32_t f = 0; f < faceCount; ++f)
      pair.targetOrder[f] = f;
    shuffle(pair.targetOrder, rng);
  }
  pair.targetRotation.resize(faceCount);
  for (int32_t i = 0; i < faceCount; ++i) {
    pair.targetRotation[i] =
        static_cast<uint8_t>(rng.below(pair.faces[pair.targetOrder[i]].cornerCount));
  }
  pair.targetPiece.assign(pair.targetOrder.size(), 0);
  if (options.splitShare > 0.0) splitQuads(pair, options.seed);
  return pair;
}

GridPoint targetPosition(const GeneratedPair& pair, const GenPart& part, const GridPoint& p) {
  if (!part.moved && !pair.globalMotion) return p;
  // Whole units stay exact through the axis cycle; any other turn is rounded once at the end.
  double q[3] = {static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
  if (part.moved) {
    const double d[3] = {q[0] - static_cast<double>(part.from.x),
                         q[1] - static_cast<double>(part.from.y),
                         q[2] - static_cast<double>(part.from.z)};
    const double to[3] = {static_cast<double>(part.to.x), static_cast<double>(part.to.y),
                          static_cast<double>(part.to.z)};
    for (int i = 0; i < 3; ++i) {
      const double* row = part.turn + 3 * i;
      q[i] = row[0] * d[0] + row[1] * d[1] + row[2] * d[2] + to[i];
    }
  }
  if (pair.globalMotion) {
    double g[3];
    for (int i = 0; i < 3; ++i) {
      const double* row = pair.globalTurn + 3 * i;
      g[i] = pair.globalScale * (row[0] * q[0] + row[1] * q[1] + row[2] * q[2]);
    }
    std::copy(g, g + 3, q);
  }
  return {std::llround(q[0]), std::llround(q[1]), std::llround(q[2])};
}

GridPoint targetCorner(const GeneratedPair& pair, int64_t targetIndex, int k) {
  const GenFace& face = pair.faces[pair.targetOrder[targetIndex]];
  int piece = pair.targetPiece.empty() ? 0 : pair.targetPiece[targetIndex];
  int n = piece ? 3 : face.cornerCount;
  int position = k >= n ? n - 1 : k;
  if (pair.options.reverseWinding) position = (n - position) % n;
  int corner = (pair.targetRotation[targetIndex] + position) % n;
  if (piece) corner = kPieceCorners[piece][corner];
  return targetPosition(pair, pair.parts[face.part], face.corners[corner]);
}

std::string targetLayerName(const GeneratedPair&, int32_t part) {
  return "obj" + std::to_string(part + 1);
}

bool writeReferenceDxf(const GeneratedPair& pair, const std::string& path) {
  static const char* const kCodes[12] = {" 10", " 20", " 30", " 11", " 21", " 31",
                                         " 12", " 22", " 32", " 13", " 23", " 33"};
  return writeWhole(path, [&](DxfOut& out) {
    for (const char* text : {"  0", "SECTION", "  2", "HEADER", "  9", "$ACADVER", "  1", "AC1015",
                             "  9", "$INSUNITS", " 70", "     6", "  0", "ENDSEC"}) {
      out.line(text);
    }
    for (const char* text : {"  0", "SECTION", "  2", "TABLES", "  0", "TABLE", "  2", "LAYER"}) {
      out.line(text);
    }
    for (size_t i = 0; i < pair.layers.size(); ++i) {
      out.line("  0");
      out.line("LAYER");
      out.line("  2");
      out.line(pair.layers[i]);
      out.line(" 70");
      out.line("     0");
      out.line(" 62");
      out.line(std::to_string(1 + i % 7));
      out.line("  6");
      out.line("CONTINUOUS");
    }
    for (const char* text :
         {"  0", "ENDTAB", "  0", "ENDSEC", "  0", "SECTION", "  2", "ENTITIES"}) {
      out.line(text);
    }
    char handle[24];
    for (size_t f = 0; f < pair.faces.size(); ++f) {
      const GenFace& face = pair.faces[f];
      out.line("  0");
      out.line("3DFACE");
      out.line("  5");
      out.line(handle, static_cast<size_t>(std::snprintf(handle, sizeof handle, "%zX", f + 0x100)));
      out.line("330");
      out.line("1F");
      out.line("100");
      out.line("AcDbEntity");
      out.line("  8");
      out.line(pair.layers[face.layer]);
      out.line("100");
      out.line("AcDbFace");
      writeCorners(out, face.corners, kCodes);
    }
    for (const char* text : {"  0", "ENDSEC", "  0", "EOF"})
      out.line(text);
  });
}

bool writeTargetDxf(const GeneratedPair& pair, const std::string& path) {
  static const char* const kCodes[12] = {"10", "20", "30", "11", "21", "31",
                                         "12", "22", "32", "13", "23", "33"};
  return writeWhole(path, [&](DxfOut& out) {
    out.line("999");
    out.line("morvane-gen target model");
    out.line("999");
    out.line("seed " + std::to_string(pair.options.seed) + ", " +
             std::to_string(pair.parts.size()) + " objects, " + std::to_string(pair.faces.size()) +
             " faces");
    for (const char* text : {"0", "SECTION", "2", "ENTITIES"})
      out.line(text);
    std::vector<std::string> names(pair.parts.size());
    for (size_t p = 0; p < pair.parts.size(); ++p) {
      names[p] = targetLayerName(pair, static_cast<int32_t>(p));
    }
    GridPoint corners[4];
    for (size_t i = 0; i < pair.targetOrder.size(); ++i) {
      const GenFace& face = pair.faces[pair.targetOrder[i]];
      for (int k = 0; k < 4; ++k)
        corners[k] = targetCorner(pair, static_cast<int64_t>(i), k);
      out.line("0");
      out.line("3DFACE");
      out.line("8");
      out.line(names[face.part]);
      writeCorners(out, corners, kCodes);
    }
    for (const char* text : {"0", "ENDSEC", "0", "EOF"})
      out.line(text);
  });
}

bool writeTruth(const GeneratedPair& pair, const std::string& path) {
  std::string temporary = path + ".tmp";
  FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  bool ok = true;
  unsigned char bytes[4];
  for (int32_t value : pair.targetOrder) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int b = 0; b < 4; ++b)
      bytes[b] = static_cast<unsigned char>(v >> (8 * b));
    ok = ok && std::fwrite(bytes, 1, 4, file) == 4;
  }
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

std::vector<int32_t> readTruth(const std::string& path) {
  std::vector<int32_t> values;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return values;
  unsigned char bytes[4];
  while (std::fread(bytes, 1, 4, file) == 4) {
    uint32_t v = 0;
    for (int b = 0; b < 4; ++b)
      v |= static_cast<uint32_t>(bytes[b]) << (8 * b);
    values.push_back(static_cast<int32_t>(v));
  }
  std::fclose(file);
  return values;
}

std::string formatUnits(int64_t units) {
  char text[32];
  return std::string(text, DxfOut::formatUnitsInto(units, text));
}

bool parseShape(const std::string& name, Shape* shape) {
  const Shape all[] = {Shape::mixed, Shape::box,   Shape::tube, Shape::sphere,
                       Shape::grid,  Shape::steps, Shape::patch};
  for (Shape s : all) {
    if (name == shapeName(s)) {
      *shape = s;
      return true;
    }
  }
  return false;
}

bool parseMovement(const std::string& name, Movement* movement) {
  if (name == "none")
    *movement = Movement::none;
  else if (name == "some")
    *movement = Movement::some;
  else if (name == "all")
    *movement = Movement::all;
  else
    return false;
  return true;
}

const char* shapeName(Shape shape) {
  switch (shape) {
    case Shape::mixed:
      return "mixed";
    case Shape::box:
      return "box";
    case Shape::tube:
      return "tube";
    case Shape::sphere:
      return "sphere";
    case Shape::grid:
      return "grid";
    case Shape::steps:
      return "steps";
    case Shape::patch:
      return "patch";
  }
  return "?";
}

}  // namespace benchgen
