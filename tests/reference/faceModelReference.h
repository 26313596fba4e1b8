#pragma once
// The face model's algorithms stated plainly, for clarity and not for speed: addPoint as a scan,
// groupParts as a pass-by-pass flood fill, measureParts as per-part scans. The tests prove the
// fast code equal to these on random models; the benchmarks may time against them.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "model/faceModel.h"

// addPoint as a scan: the index of the first point with the same bits, else a new one.
struct PlainPointList {
  std::vector<std::array<uint64_t, 3>> keys;
  int32_t add(double x, double y, double z) {
    std::array<uint64_t, 3> key = {std::bit_cast<uint64_t>(x), std::bit_cast<uint64_t>(y),
                                   std::bit_cast<uint64_t>(z)};
    auto at = std::find(keys.begin(), keys.end(), key);
    if (at == keys.end()) at = keys.insert(at, key);
    return static_cast<int32_t>(at - keys.begin());
  }
};

struct PlainGrouping {
  std::vector<int32_t> faceParts, pointParts;
  int32_t partCount = 1;
};

// The flood fill in passes: face 0 starts part 1; each pass over faces 1.. numbers a face from
// the first numbered point among its corners; when a pass numbers nothing while faces are left,
// the lowest unnumbered face starts the next part.
inline PlainGrouping plainGroupParts(const FaceModel& model) {
  PlainGrouping g{std::vector<int32_t>(model.faceCount), std::vector<int32_t>(model.pointCount)};
  auto give = [&](int32_t f, int32_t facePart, int32_t pointPart) {
    g.faceParts[f] = facePart;
    for (int c = 0; c < model.faces[f].cornerCount; ++c)
      g.pointParts[model.faces[f].corners[c]] = pointPart;
  };
  give(0, 1, 1);
  for (bool left = model.faceCount > 1; left;) {
    bool changed = false;
    left = false;
    for (int32_t f = 1; f < model.faceCount; ++f) {
      if (g.faceParts[f] != 0) continue;
      int32_t found = 0;
      for (int c = 0; c < model.faces[f].cornerCount && found == 0; ++c)
        found = g.pointParts[model.faces[f].corners[c]];
      if (found != 0) give(f, g.partCount, found);
      changed |= found != 0;
      left |= found == 0;
    }
    if (left && !changed) {
      ++g.partCount;
      auto first = std::find(g.faceParts.begin(), g.faceParts.end(), 0) - g.faceParts.begin();
      give(static_cast<int32_t>(first), g.partCount, g.partCount);
    }
  }
  return g;
}

// Numbers as "%a" (bit for bit, -0 kept), joined by blanks. A NaN's sign is kept only with
// `nanSign`: arithmetic on two NaNs gives the first operand's, so a + b and b + a may differ.
inline std::string hexNumbers(std::initializer_list<double> values, bool nanSign = true) {
  std::string text;
  for (double v : values) {
    char number[40];
    std::snprintf(number, sizeof number, " %a", nanSign || !std::isnan(v) ? v : NAN);
    text += number;
  }
  return text;
}

// What measureParts stored: a line per part, then per face, then per point, then meanSize.
inline std::vector<std::string> measureTexts(const FaceModel& m) {
  std::vector<std::string> out;
  for (int32_t p = 0; p < m.partCount; ++p) {
    const ModelPart& part = m.parts[p];
    std::string line = "part " + std::to_string(part.number) + ":";
    for (int32_t k = 0; k < part.faceCount; ++k)
      line.append(1, ' ').append(std::to_string(part.faces[k]));
    out.push_back(
        line + hexNumbers({part.centre.x, part.centre.y, part.centre.z, part.radiusSum, part.size},
                          false));
  }
  for (int32_t f = 0; f < m.faceCount; ++f) {
    const ModelFace& c = m.faces[f];
    out.push_back(
        "face " + std::to_string(c.partSlot) +
        hexNumbers({c.centre.x, c.centre.y, c.centre.z, c.scaledCentre.x, c.scaledCentre.y,
                    c.scaledCentre.z, c.perimeter, c.normal.x, c.normal.y, c.normal.z},
                   false));
  }
  for (int32_t i = 0; i < m.pointCount; ++i)
    out.push_back("point" +
                  hexNumbers({m.points[i].relX, m.points[i].relY, m.points[i].relZ}, false));
  out.push_back("mean" + hexNumbers({m.meanSize}, false));
  return out;
}

// measureParts written out per part over a grouped model: points and faces of part p in index
// order, positions relative to the part's mean point; the same text as measureTexts.
inline std::vector<std::string> plainMeasureTexts(const FaceModel& m) {
  std::vector<std::string> parts, faces(m.faceCount), points(m.pointCount);
  double total = 0;
  for (int32_t p = 1; p <= m.partCount; ++p) {
    std::vector<int32_t> partPoints, partFaces;
    for (int32_t i = 0; i < m.pointCount; ++i)
      if (m.points[i].part == p) partPoints.push_back(i);
    for (int32_t f = 0; f < m.faceCount; ++f)
      if (m.faces[f].part == p) partFaces.push_back(f);
    double x = 0, y = 0, z = 0, n = static_cast<double>(partPoints.size()), radiusSum = 0;
    for (int32_t i : partPoints)
      x += m.points[i].x, y += m.points[i].y, z += m.points[i].z;
    const Vec3 centre{x / n, y / n, z / n};
    for (int32_t i : partPoints) {
      radiusSum += distance(centre, pointPosition(m.points[i]));
      Vec3 r = pointPosition(m.points[i]) - centre;
      points[i] = "point" + hexNumbers({r.x, r.y, r.z}, false);
    }
    double s = radiusSum / static_cast<double>(partFaces.size()), size = 0;
    s = s == 0 ? 1 : s;
    std::string line = "part " + std::to_string(p) + ":";
    for (size_t slot = 0; slot < partFaces.size(); ++slot) {
      const ModelFace& face = m.faces[partFaces[slot]];
      const int k = face.cornerCount;
      Vec3 b[4], c{0, 0, 0};
      double perimeter = 0;
      for (int i = 0; i < k; ++i)
        b[i] = pointPosition(m.points[face.corners[i]]) - centre;
      for (int i = 0; i < k; ++i) {
        perimeter += distance(b[i], b[(i + 1) % k]);
        c = {c.x + b[i].x, c.y + b[i].y, c.z + b[i].z};
      }
      perimeter *= k == 3 ? 0.5 : 1;
      size += perimeter;
      c = {c.x / k, c.y / k, c.z / k};
      Vec3 normal = normalizeSnapped(cross(b[1] - b[0], b[2] - b[0]));
      faces[partFaces[slot]] = "face " + std::to_string(slot) +
                               hexNumbers({c.x, c.y, c.z, c.x / s, c.y / s, c.z / s, perimeter,
                                           normal.x, normal.y, normal.z},
                                          false);
      line.append(1, ' ').append(std::to_string(partFaces[slot]));
    }
    parts.push_back(line + hexNumbers({centre.x, centre.y, centre.z, radiusSum, size / s}, false));
    total += radiusSum;
  }
  parts.insert(parts.end(), faces.begin(), faces.end());
  parts.insert(parts.end(), points.begin(), points.end());
  parts.push_back("mean" + hexNumbers({total / m.faceCount}, false));
  return parts;
}
