#include "align/partAlignment.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "align/faceAssignment.h"
#include "align/partShapes.h"
#include "align/pointTree.h"
#include "model/faceModel.h"
#include "textfiles/scopedBlocks.h"

namespace {

constexpr int32_t kAnchorCandidates = 48;  // target points tried as anchors
constexpr int32_t kSampleSize = 64;        // points a candidate transform must place
constexpr int32_t kQuickSample = 8;        // the first of them, to drop wrong guesses early
constexpr int32_t kMaxHypotheses = 4096;   // candidate transforms per pair of parts
constexpr double kGuessSlack = 4.0;        // tolerances a frame-built guess may be off by
constexpr double kLeastRadius = 0.2;       // anchors nearer the centroid fix directions poorly
constexpr double kLeastSine = 0.25;        // anchors nearer one line through the centroid too
constexpr int32_t kLayerSample = 32;       // faces whose layers tell alignments apart

// Entry k of `count` spread evenly over a list of n.
int32_t spreadEntry(int32_t k, int32_t count, int32_t n) {
  return static_cast<int32_t>((2 * int64_t{k} + 1) * n / (2 * int64_t{count}));
}

Vec3 unit(const Vec3& v) {
  double length = vectorLength(v);
  return {v.x / length, v.y / length, v.z / length};
}

// Reference list positions whose radius and spacing match (within eps); written to `out` when
// it is not null. Returns how many.
int32_t matchingPoints(const PartShape& r, double radius, double spacing, double eps,
                       int32_t* out) {
  const int32_t n = r.pointCount;
  const double* radii = r.radius;
  const int32_t* order = r.byRadius;
  int32_t lo = 0, hi = n;
  while (lo < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (radii[order[mid]] < radius - eps)
      lo = mid + 1;
    else
      hi = mid;
  }
  int32_t count = 0;
  for (int32_t i = lo; i < n && radii[order[i]] <= radius + eps; ++i) {
    if (std::fabs(r.spacing[order[i]] - spacing) > eps) continue;
    if (out) out[count] = order[i];
    ++count;
  }
  return count;
}

// An orthonormal frame from two anchor directions seen from `centre`.
void anchorFrame(const Vec3& centre, const Vec3& a, const Vec3& b, bool mirror, Vec3 frame[3]) {
  Vec3 u = unit(a - centre);
  Vec3 d = b - centre;
  double along = dot(d, u);
  Vec3 v = unit({d.x - along * u.x, d.y - along * u.y, d.z - along * u.z});
  Vec3 w = cross(u, v);
  if (mirror) w = {-w.x, -w.y, -w.z};
  frame[0] = u;
  frame[1] = v;
  frame[2] = w;
}

struct Anchors {
  int32_t first = -1, second = -1;  // target list positions
};

// Picks two target anchors whose features are rarest among the reference points, the second
// well off the line through the centroid and the first. False when some target point has no
// reference point with its features (the parts differ) or no second anchor exists.
bool chooseAnchors(const PartShape& t, const PartShape& r, double eps, Anchors* anchors) {
  const int32_t n = t.pointCount;
  const int32_t m = std::min(n, kAnchorCandidates);
  int32_t counts[kAnchorCandidates + 1];
  int32_t positions[kAnchorCandidates + 1];
  int32_t farthest = t.byRadius[n - 1];
  for (int32_t i = 0; i <= m; ++i) {
    positions[i] = i < m ? spreadEntry(i, m, n) : farthest;
    counts[i] = matchingPoints(r, t.radius[positions[i]], t.spacing[positions[i]], eps, nullptr);
    if (counts[i] == 0) return false;
  }
  int32_t best = -1;
  for (int32_t i = 0; i <= m; ++i) {
    if (t.radius[positions[i]] < kLeastRadius) continue;
    if (best < 0 || counts[i] < counts[best]) best = i;
  }
  if (best < 0) best = m;
  anchors->first = positions[best];
  return true;
}

// The second anchor: rarest candidate off the first one's line, else the point farthest off it.
int32_t secondAnchor(const ShapeSet& set, int32_t index, int32_t first, double eps,
                     const PartShape& r) {
  const PartShape& t = set.parts[index];
  const int32_t n = t.pointCount;
  Vec3 u = unit(listedPoint(set, index, first) - t.centroid);
  auto sine = [&](int32_t k) {
    Vec3 d = listedPoint(set, index, k) - t.centroid;
    double length = vectorLength(d);
    return length > 0.0 ? vectorLength(cross(u, d)) / length : 0.0;
  };
  const int32_t m = std::min(n, kAnchorCandidates);
  int32_t best = -1, bestCount = 0;
  for (int32_t i = 0; i < m; ++i) {
    int32_t k = spreadEntry(i, m, n);
    if (k == first || t.radius[k] < kLeastRadius || sine(k) < kLeastSine) continue;
    int32_t count = matchingPoints(r, t.radius[k], t.spacing[k], eps, nullptr);
    if (best < 0 || count < bestCount) {
      best = k;
      bestCount = count;
    }
  }
  if (best >= 0) return best;
  double widest = 1e-3;
  for (int32_t k = 0; k < n; ++k) {
    double s = sine(k) * t.radius[k];
    if (s > widest) {
      widest = s;
      best = k;
    }
  }
  return best;
}

// Nearest reference list positions of the sample points under `motion`, into `landing`.
void sampleLanding(const ShapeSet& target, int32_t t, const PartShape& r, const Similarity& motion,
                   int32_t sampleCount, int32_t* landing) {
  const int32_t n = target.parts[t].pointCount;
  for (int32_t i = 0; i < sampleCount; ++i) {
    Vec3 y = applySimilarity(motion, listedPoint(target, t, spreadEntry(i, sampleCount, n)));
    landing[i] = nearestPoint(r.tree, y, nullptr);
  }
}

// Layers that a sample of target part t's faces take under `motion` (the reference face with
// the nearest centre), into `layers`.
void sampleLayers(const AlignScratch& scratch, int32_t t, const Similarity& motion,
                  const char** layers) {
  const ModelPart& part = scratch.targetModel->parts[t];
  const int32_t n = part.faceCount;
  for (int32_t i = 0; i < kLayerSample; ++i) {
    layers[i] = "";
    if (n <= 0 || !scratch.faceCentres) continue;
    int32_t f = part.faces[spreadEntry(i, kLayerSample, n)];
    Vec3 centre = applySimilarity(motion, faceCentre(*scratch.targetModel, f));
    int32_t g = nearestPoint(scratch.faceCentres, centre, nullptr);
    if (g >= 0) layers[i] = faceLayer(scratch.referenceModel->faces[g]);
  }
}

bool sameLayers(const char* const* a, const char* const* b) {
  for (int32_t i = 0; i < kLayerSample; ++i) {
    if (std::strcmp(a[i], b[i]) != 0) return false;
  }
  return true;
}

}  // namespace

double alignmentTolerance(const ShapeSet& target, int32_t t, const ShapeSet& reference,
                          int32_t r) noexcept {
  double sr = reference.parts[r].scale, st = target.parts[t].scale;
  return 5e-5 * sr + 2e-5 * (1.0 + sr / st);
}

bool shapesAgree(const ShapeSet& target, int32_t t, const ShapeSet& reference, int32_t r) noexcept {
  const PartShape& a = target.parts[t];
  const PartShape& b = reference.parts[r];
  if (!a.alignable || !b.alignable || a.pointCount != b.pointCount) return false;
  double slack = 1e-3 + 1e-4 / a.scale + 1e-4 / b.scale;
  for (int i = 0; i < 3; ++i) {
    if (!(std::fabs(a.eigen[i] - b.eigen[i]) <= slack)) return false;
  }
  return std::fabs(a.meanRadius - b.meanRadius) <= slack &&
         std::fabs(a.maxRadius - b.maxRadius) <= 2.0 * slack;
}

bool sampleLands(const ShapeSet& target, int32_t t, const ShapeSet& reference, int32_t r,
                 const Similarity& motion, int32_t sampleCount, double slack) noexcept {
  const int32_t n = target.parts[t].pointCount;
  const int32_t count = std::min(n, sampleCount);
  double limit = slack * alignmentTolerance(target, t, reference, r);
  limit *= limit;
  for (int32_t i = 0; i < count; ++i) {
    Vec3 y = applySimilarity(motion, listedPoint(target, t, spreadEntry(i, count, n)));
    double squared = 1e308;
    if (nearestPoint(reference.parts[r].tree, y, &squared) < 0 || !(squared <= limit)) {
      return false;
    }
  }
  return true;
}

int32_t findPartAlignments(ShapeSet* target, int32_t t, ShapeSet* reference, int32_t r,
                           AlignScratch* scratch, PartAlignment* out, int32_t capacity) noexcept {
  if (!preparePartFeatures(target, t) || !preparePartFeatures(reference, r)) {
    return target->parts[t].alignable && reference->parts[r].alignable ? -1 : 0;
  }
  const PartShape& ts = target->parts[t];
  const PartShape& rs = reference->parts[r];
  const double tol = alignmentTolerance(*target, t, *reference, r);
  const double eps = kGuessSlack * tol / rs.scale;
  Anchors anchors;
  if (!chooseAnchors(ts, rs, eps, &anchors)) return 0;
  anchors.second = secondAnchor(*target, t, anchors.first, eps, rs);
  if (anchors.second < 0) return 0;

  const int32_t n = rs.pointCount;
  const int32_t samples = std::min(ts.pointCount, kSampleSize);
  ScopedBlocks blocks;
  int32_t* firsts = blocks.raw<int32_t>(static_cast<size_t>(n));
  int32_t* seconds = blocks.raw<int32_t>(static_cast<size_t>(n));
  int32_t* landing = blocks.raw<int32_t>(kSampleSize);
  auto* layers = blocks.raw<const char*>(static_cast<size_t>(capacity + 1) * kLayerSample);
  if (!firsts || !seconds || !landing || !layers) return -1;

  const Vec3 a1 = listedPoint(*target, t, anchors.first);
  const Vec3 a2 = listedPoint(*target, t, anchors.second);
  const double gap = distance(a1, a2) / ts.scale;
  Vec3 source[3];
  anchorFrame(ts.centroid, a1, a2, false, source);
  const double scale = rs.scale / ts.scale;

  int32_t found = 0, hypotheses = 0;
  int32_t firstCount =
      matchingPoints(rs, ts.radius[anchors.first], ts.spacing[anchors.first], eps, firsts);
  int32_t secondCount =
      matchingPoints(rs, ts.radius[anchors.second], ts.spacing[anchors.second], eps, seconds);
  for (int32_t i = 0; i < firstCount && found < capacity; ++i) {
    const Vec3 b1 = listedPoint(*reference, r, firsts[i]);
    for (int32_t j = 0; j < secondCount && found < capacity; ++j) {
      const Vec3 b2 = listedPoint(*reference, r, seconds[j]);
      if (std::fabs(distance(b1, b2) / rs.scale - gap) > 2.0 * eps) continue;
      for (int mirror = 0; mirror < 2 && found < capacity; ++mirror) {
        if (++hypotheses > kMaxHypotheses || scratch->workLeft <= 0) return found;
        Vec3 frame[3];
        anchorFrame(rs.centroid, b1, b2, mirror != 0, frame);
        Similarity motion = similarityFromFrames(source, ts.centroid, frame, rs.centroid, scale);
        scratch->workLeft -= kQuickSample;
        if (!sampleLands(*target, t, *reference, r, motion, kQuickSample, kGuessSlack)) continue;
        scratch->workLeft -= 2 * samples;
        if (!sampleLands(*target, t, *reference, r, motion, samples, kGuessSlack)) continue;
        // A least-squares fit over the sample makes the guess good enough to test other parts.
        sampleLanding(*target, t, rs, motion, samples, landing);
        Vec3 from[kSampleSize], onto[kSampleSize];
        for (int32_t k = 0; k < samples; ++k) {
          from[k] = listedPoint(*target, t, spreadEntry(k, samples, ts.pointCount));
          onto[k] = listedPoint(*reference, r, landing[k]);
        }
        Similarity fitted{};
        if (fitSimilarity(from, onto, samples, isMirroring(motion), &fitted)) motion = fitted;
        double residual = 0.0;
        for (int32_t k = 0; k < samples; ++k)
          residual += squaredDistance(applySimilarity(motion, from[k]), onto[k]);
        residual /= samples;
        const char** mine = layers + static_cast<size_t>(found) * kLayerSample;
        scratch->workLeft -= kLayerSample;
        sampleLayers(*scratch, t, motion, mine);
        int32_t same = -1;
        for (int32_t k = 0; k < found && same < 0; ++k) {
          if (sameLayers(mine, layers + static_cast<size_t>(k) * kLayerSample)) same = k;
        }
        // Of alignments that give the same layers the closest fit stays: a symmetry that the
        // rounding of the files does not quite keep fits a little worse than the true motion.
        if (same >= 0) {
          if (residual < out[same].residual) out[same] = PartAlignment{r, motion, residual};
          continue;
        }
        out[found++] = PartAlignment{r, motion, residual};
      }
    }
  }
  return found;
}

int refineAlignment(ShapeSet* target, int32_t t, ShapeSet* reference, AlignScratch* scratch,
                    double firstLimit, PartAlignment* alignment) noexcept {
  const int32_t r = alignment->referencePart;
  if (!preparePartFeatures(reference, r)) return reference->parts[r].alignable ? -1 : 0;
  const PartShape& ts = target->parts[t];
  const PartShape& rs = reference->parts[r];
  const int32_t n = ts.pointCount;
  if (n != rs.pointCount) return 0;
  const double tol = alignmentTolerance(*target, t, *reference, r);
  ScopedBlocks blocks;
  Vec3* source = blocks.raw<Vec3>(static_cast<size_t>(n));
  Vec3* landing = blocks.raw<Vec3>(static_cast<size_t>(n));
  if (!source || !landing) return -1;
  scratch->workLeft -= 2 * int64_t{n};
  double limit = firstLimit > 0.0 ? firstLimit : kGuessSlack * tol;
  limit *= limit;
  for (int32_t k = 0; k < n; ++k) {
    source[k] = listedPoint(*target, t, k);
    double squared = 1e308;
    int32_t j = nearestPoint(rs.tree, applySimilarity(alignment->motion, source[k]), &squared);
    if (j < 0 || !(squared <= limit)) return 0;
    landing[k] = listedPoint(*reference, r, j);
  }
  Similarity fitted{};
  if (!fitSimilarity(source, landing, n, isMirroring(alignment->motion), &fitted)) return 0;
  // Every point on a reference point of its own, within tolerance.
  limit = tol * tol;
  const int32_t stamp = ++scratch->stamp;
  for (int32_t k = 0; k < n; ++k) {
    double squared = 1e308;
    int32_t j = nearestPoint(rs.tree, applySimilarity(fitted, source[k]), &squared);
    if (j < 0 || !(squared <= limit)) return 0;
    int32_t point = reference->points[rs.firstPoint + j];
    if (scratch->stamps[point] == stamp) return 0;
    scratch->stamps[point] = stamp;
    scratch->pointMap[target->points[ts.firstPoint + k]] = point;
  }
  alignment->motion = fitted;
  return 1;
}
