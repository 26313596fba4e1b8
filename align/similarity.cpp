#include "align/similarity.h"

#include <Eigen/Dense>
#include <Eigen/Geometry>

#include <cmath>

#include "textfiles/allocator.h"

Vec3 applySimilarity(const Similarity& s, const Vec3& p) noexcept {
  Vec3 d = p - s.from;
  const double* r = s.rotation;
  return {s.to.x + s.scale * (r[0] * d.x + r[1] * d.y + r[2] * d.z),
          s.to.y + s.scale * (r[3] * d.x + r[4] * d.y + r[5] * d.z),
          s.to.z + s.scale * (r[6] * d.x + r[7] * d.y + r[8] * d.z)};
}

bool isMirroring(const Similarity& s) noexcept {
  const double* r = s.rotation;
  double det = r[0] * (r[4] * r[8] - r[5] * r[7]) - r[1] * (r[3] * r[8] - r[5] * r[6]) +
               r[2] * (r[3] * r[7] - r[4] * r[6]);
  return det < 0.0;
}

Similarity similarityFromFrames(const Vec3 source[3], const Vec3& sourceOrigin,
                                const Vec3 target[3], const Vec3& targetOrigin,
                                double scale) noexcept {
  // rotation = sum_k target_k (column) * source_k (row)
  Similarity s{};
  for (int k = 0; k < 3; ++k) {
    const double t[3] = {target[k].x, target[k].y, target[k].z};
    const double u[3] = {source[k].x, source[k].y, source[k].z};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j)
        s.rotation[3 * i + j] += t[i] * u[j];
    }
  }
  s.scale = scale;
  s.from = sourceOrigin;
  s.to = targetOrigin;
  return s;
}

bool fitSimilarity(const Vec3* source, const Vec3* target, int32_t count, bool mirror,
                   Similarity* out) noexcept {
  if (count < 3) return false;
  auto* block = static_cast<double*>(gmalloc(sizeof(double) * 6 * static_cast<size_t>(count)));
  if (!block) return false;
  Eigen::Map<Eigen::Matrix3Xd> src(block, 3, count);
  Eigen::Map<Eigen::Matrix3Xd> dst(block + 3 * static_cast<size_t>(count), 3, count);
  // Centre both sets on their first point's neighbourhood to keep large coordinates exact.
  const Vec3 o = source[0], p = target[0];
  const double flip = mirror ? -1.0 : 1.0;
  for (int32_t i = 0; i < count; ++i) {
    src.col(i) << flip * (source[i].x - o.x), source[i].y - o.y, source[i].z - o.z;
    dst.col(i) << target[i].x - p.x, target[i].y - p.y, target[i].z - p.z;
  }
  Eigen::Matrix4d m = Eigen::umeyama(src, dst, true);
  gfree(block);
  Eigen::Matrix3d sr = m.topLeftCorner<3, 3>();
  double scale = std::cbrt(std::fabs(sr.determinant()));
  if (!(scale > 0.0) || !std::isfinite(scale)) return false;
  Eigen::Matrix3d r = sr / scale;
  if (mirror) r.col(0) *= -1.0;
  Similarity s{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j)
      s.rotation[3 * i + j] = r(i, j);
  }
  s.scale = scale;
  // x -> scale*R*(flip(x - o)) + t + p, i.e. from = o, to = p + t.
  s.from = o;
  s.to = {p.x + m(0, 3), p.y + m(1, 3), p.z + m(2, 3)};
  // A degenerate set (all on a line) leaves the rotation undetermined: refuse it.
  Eigen::Matrix3d check = r * r.transpose() - Eigen::Matrix3d::Identity();
  if (!(check.cwiseAbs().maxCoeff() < 1e-6)) return false;
  *out = s;
  return true;
}
