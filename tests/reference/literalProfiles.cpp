#include "reference/literalProfiles.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "compare/influenceInternal.h"
#include "compare/influenceProfile.h"
#include "model/faceModel.h"
#include "textfiles/allocator.h"

namespace {

// From each seed face in turn, in `order` (every mark of the model cleared, the seed's value 1,
// mark 1): passes over the part's faces in `order`, each face with mark 1 giving its value over
// the weight's root (nothing when the root is 0) to every other face on each of its corner
// points, marking those at 0 with 1, and being done (mark 2), until a pass finds no face with
// mark 1. With `rescale`, a face holding more than 2^512 when it is about to give first has
// every value of its seed multiplied by 2^-512. Values are normalised by their sum over the part
// (added in `order`). Returns false when a seed's sum is +inf.
bool spreadLiterally(FaceModel* model, const ModelPart& part, const std::vector<int>& order,
                     bool rescale, std::vector<std::vector<double>>& values) {
  const int n = part.faceCount;
  bool finite = true;
  for (int a : order) {
    values[a].assign(model->faceCount, 0.0);
    for (int f = 0; f < model->faceCount; ++f)
      model->faces[f].mark = 0;
    values[a][part.faces[a]] = 1.0;
    model->faces[part.faces[a]].mark = 1;
    for (bool spread = true; spread;) {
      spread = false;
      for (int i : order) {
        ModelFace& f = model->faces[part.faces[i]];
        if (f.mark != 1) continue;
        if (rescale && values[a][part.faces[i]] > 0x1p512)
          for (double& v : values[a])
            v *= 0x1p-512;
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
    for (int j : order)
      seed.influenceSum += values[a][part.faces[j]];
    finite &= !std::isinf(seed.influenceSum);
    for (int j = 0; j < n; ++j)
      values[a][part.faces[j]] /= seed.influenceSum;
  }
  return finite;
}

}  // namespace

// The faces spread in list order; when a seed's sum is +inf, again in the scrambled order
// (slots ascending by the upper half of scrambleKey, ties by slot) with rescaling. A face's
// profile samples the values it received from every seed, stably sorted with NaN last, at 256
// evenly spaced positions from first to last.
void literalPartProfiles(FaceModel* model, int partIndex) {
  ModelPart& part = model->parts[partIndex];
  const int n = part.faceCount;
  std::vector<std::vector<double>> values(n);  // [seed slot][face]
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i)
    order[i] = i;
  if (!spreadLiterally(model, part, order, false, values)) {
    std::stable_sort(order.begin(), order.end(),
                     [](int x, int y) { return scrambleKey(x) >> 32 < scrambleKey(y) >> 32; });
    spreadLiterally(model, part, order, true, values);
    part.flags |= kPartProfilesScrambled;
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
  part.flags |= kPartProfilesComputed;
}
