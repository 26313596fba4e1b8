#include "reference/literalProfiles.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "compare/influenceProfile.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"

namespace {

bool nanLast(double a, double b) {
  return !std::isnan(a) && (std::isnan(b) || a < b);
}

// One pass: each face of the part with mark 1, in list order, gives its value over the
// weight's root (nothing when the root is 0) to every other face on each of its corner
// points, marks those still at 0 with 1, and is done (mark 2). True when a face spread.
bool spreadPass(FaceModel* model, std::vector<double>& values, const ModelPart& part) {
  bool spread = false;
  for (int i = 0; i < part.faceCount; ++i) {
    ModelFace& f = model->faces[part.faces[i]];
    if (f.mark != 1) continue;
    for (int c = 0; c < f.cornerCount; ++c) {
      const ModelPoint& point = model->points[f.corners[c]];
      for (int k = 0; k < point.faceCount; ++k) {
        ModelFace& g = model->faces[point.faces[k]];
        if (point.faces[k] == part.faces[i]) continue;
        double root = std::sqrt(squaredDistance(f.normal, g.normal) +
                                squaredDistance(f.scaledCentre, g.scaledCentre));
        values[point.faces[k]] += root == 0.0 ? 0.0 : values[part.faces[i]] / root;
        if (g.mark == 0) g.mark = 1;
      }
    }
    f.mark = 2;
    spread = true;
  }
  return spread;
}

}  // namespace

void literalPartProfiles(FaceModel* model, int partIndex) {
  const ModelPart& part = model->parts[partIndex];
  const int n = part.faceCount;
  std::vector<std::vector<double>> values(n, std::vector<double>(model->faceCount));  // [seed]
  for (int a = 0; a < n; ++a) {
    for (int f = 0; f < model->faceCount; ++f)
      model->faces[f].mark = 0;
    ModelFace& seed = model->faces[part.faces[a]];
    values[a][part.faces[a]] = 1.0;
    seed.mark = 1;
    while (spreadPass(model, values[a], part)) {
    }
    seed.influenceSum = 0.0;
    for (int j = 0; j < n; ++j)
      seed.influenceSum += values[a][part.faces[j]];
    seed.influence = static_cast<double*>(gcalloc(sizeof(double) * n));
    for (int j = 0; j < n; ++j)
      seed.influence[j] = values[a][part.faces[j]] /= seed.influenceSum;
  }
  const double step = (n - 1) * 0.00390625;
  for (int a = 0; a < n; ++a) {
    std::vector<double> got;  // what face a received from every seed, sorted
    for (int j = 0; j < n; ++j)
      got.push_back(values[j][part.faces[a]]);
    std::stable_sort(got.begin(), got.end(), nanLast);
    double* profile = static_cast<double*>(gcalloc(sizeof(double) * kProfileSamples));
    model->faces[part.faces[a]].profile = profile;
    for (int j = 0; j < kProfileSamples; ++j) {
      double c = j * step;
      int lo = static_cast<int>(std::floor(c)),
          hi = std::min(static_cast<int>(std::ceil(c)), n - 1);
      profile[j] = lo == hi ? got[lo] : got[lo] + (c - lo) * (got[hi] - got[lo]);
    }
  }
  model->parts[partIndex].flags |= 1;
}
