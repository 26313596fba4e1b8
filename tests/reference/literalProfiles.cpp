#include "reference/literalProfiles.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "compare/influenceProfile.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"

// From each seed face in turn (every mark of the model cleared, the seed's value 1, mark 1):
// passes over the part list, each face with mark 1 giving its value over the weight's root
// (nothing when the root is 0) to every other face on each of its corner points, marking those
// at 0 with 1, and being done (mark 2), until a pass finds no face with mark 1. Values are
// normalised by their sum over the part; a face's profile samples the values it received from
// every seed, stably sorted with NaN last, at 256 evenly spaced positions from first to last.
void literalPartProfiles(FaceModel* model, int partIndex) {
  const ModelPart& part = model->parts[partIndex];
  const int n = part.faceCount;
  std::vector<std::vector<double>> values(n, std::vector<double>(model->faceCount));  // [seed]
  for (int a = 0; a < n; ++a) {
    for (int f = 0; f < model->faceCount; ++f)
      model->faces[f].mark = 0;
    values[a][part.faces[a]] = 1.0;
    model->faces[part.faces[a]].mark = 1;
    for (bool spread = true; spread;) {
      spread = false;
      for (int i = 0; i < n; ++i) {
        ModelFace& f = model->faces[part.faces[i]];
        if (f.mark != 1) continue;
        for (int c = 0; c < f.cornerCount; ++c) {
          const ModelPoint& point = model->points[f.corners[c]];
          for (int k = 0; k < point.faceCount; ++k) {
            ModelFace& g = model->faces[point.faces[k]];
            if (point.faces[k] == part.faces[i]) continue;
            double root = std::sqrt(squaredDistance(f.normal, g.normal) +
                                    squaredDistance(f.scaledCentre, g.scaledCentre));
            values[a][point.faces[k]] += root == 0.0 ? 0.0 : values[a][part.faces[i]] / root;
            if (g.mark == 0) g.mark = 1;
          }
        }
        f.mark = 2, spread = true;
      }
    }
    ModelFace& seed = model->faces[part.faces[a]];
    seed.influenceSum = 0.0;
    for (int j = 0; j < n; ++j)
      seed.influenceSum += values[a][part.faces[j]];
    seed.influence = static_cast<double*>(gcalloc(sizeof(double) * n));
    for (int j = 0; j < n; ++j)
      seed.influence[j] = values[a][part.faces[j]] /= seed.influenceSum;
  }
  for (int a = 0; a < n; ++a) {
    std::vector<double> got;
    for (int j = 0; j < n; ++j)
      got.push_back(values[j][part.faces[a]]);
    std::stable_sort(got.begin(), got.end(),
                     [](double x, double y) { return !std::isnan(x) && (std::isnan(y) || x < y); });
    double* profile = static_cast<double*>(gcalloc(sizeof(double) * kProfileSamples));
    model->faces[part.faces[a]].profile = profile;
    for (int j = 0; j < kProfileSamples; ++j) {
      double c = j * (n - 1) / 256.0;
      int lo = static_cast<int>(std::floor(c)),
          hi = std::min(static_cast<int>(std::ceil(c)), n - 1);
      profile[j] = lo == hi ? got[lo] : got[lo] + (c - lo) * (got[hi] - got[lo]);
    }
  }
  model->parts[partIndex].flags |= 1;
}
