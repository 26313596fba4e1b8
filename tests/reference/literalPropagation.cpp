#include "reference/literalPropagation.h"

#include <algorithm>
#include <cmath>

#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "model/faceModel.h"

namespace {

// Whether face `other` uses the corner after corner m of `face`, so shares that edge.
bool sharesEdge(const FaceModel* model, const ModelFace& face, int m, int other) {
  const ModelPoint& next = model->points[face.corners[(m + 1) % face.cornerCount]];
  return std::find(next.faces, next.faces + next.faceCount, other) != next.faces + next.faceCount;
}

// The reference face met first, walking the corners of `ar` and each corner's face list, among
// the unmarked ones joined by an edge (pass 1) or a single corner (pass 2), with the smallest
// score against the target's normal difference dT and signature distance sT; -1 when none.
int bestReferenceFace(const FaceModel* ref, const ModelFace& ar, Vec3 seedNormal, double dT,
                      double sT, int pass) {
  double best = 1e308;
  int winner = -1;
  for (int l = 0; l < ar.cornerCount; ++l) {
    const ModelPoint& point = ref->points[ar.corners[l]];
    for (int s = 0; s < point.faceCount; ++s) {
      const ModelFace& fc = ref->faces[point.faces[s]];
      if (fc.mark != 0 || sharesEdge(ref, ar, l, point.faces[s]) != (pass == 1)) continue;
      double dR = distance(ar.normal, seedNormal) - distance(fc.normal, seedNormal);
      double score =
          std::fabs(signatureDistance(faceSignature(*ref, ar), faceSignature(*ref, fc)) - sT) +
          std::fabs(dR - dT);
      if (score < best) best = score, winner = point.faces[s];
    }
  }
  return winner;
}

// One step from the front (target marks 1, then 2), the considered-flags cleared at each pass.
// A marked neighbour is only considered; an unmarked one joined the pass's way (in phase 1 only
// with a match level) is considered and takes the best reference face. True when a front face
// was handled.
bool literalStep(FaceModel* ref, FaceModel* tgt, const ModelPart& tp, int seed, bool phase1) {
  const Vec3 seedNormal = tgt->faces[seed].normal;
  const Vec3 seedRefNormal = ref->faces[tgt->faces[seed].matchedFace].normal;
  bool handled = false;
  for (int pass = 1; pass <= 2; ++pass) {
    std::vector<char> considered(tgt->faceCount);
    for (int i = 0; i < tp.faceCount; ++i) {
      ModelFace& a = tgt->faces[tp.faces[i]];
      if (a.mark != pass) continue;
      considered[tp.faces[i]] = handled = true;
      for (int m = 0; m < a.cornerCount; ++m) {
        const ModelPoint& point = tgt->points[a.corners[m]];
        for (int q = 0; q < point.faceCount; ++q) {
          int b = point.faces[q];
          ModelFace& fb = tgt->faces[b];
          if (considered[b] || (fb.mark == 0 && phase1 && fb.matchLevel == 0)) continue;
          if (fb.mark == 0 && sharesEdge(tgt, a, m, b) != (pass == 1)) continue;
          considered[b] = 1;
          if (fb.mark != 0) continue;
          int winner = bestReferenceFace(
              ref, ref->faces[a.matchedFace], seedRefNormal,
              distance(a.normal, seedNormal) - distance(fb.normal, seedNormal),
              signatureDistance(faceSignature(*tgt, a), faceSignature(*tgt, fb)), pass);
          if (winner < 0) continue;
          ref->faces[winner].mark = fb.mark = 1;
          if (fb.matchedFace == -1) fb.matchedFace = winner;
        }
      }
      a.mark += 1;
    }
  }
  return handled;
}

double profileScore(const FaceModel& tgt, const ModelFace& t, const FaceModel& ref,
                    const ModelFace& r) {
  double sum = 0;
  for (int j = 0; j < kProfileSamples; ++j)
    sum += std::fabs(t.profile[j] - r.profile[j]);
  return sum + 0.01 * signatureDistance(faceSignature(tgt, t), faceSignature(ref, r));
}

}  // namespace

int literalChooseSeed(const std::vector<SeedCandidate>& records) {
  std::vector<int> order(records.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    double x = records[a].score, y = records[b].score;
    return !std::isnan(x) && (std::isnan(y) || x < y);
  });
  for (int i : order)
    if (records[i].referenceFace >= 0) return i;
  return -1;
}

// Seed records: a matched face scores half its profile score against its match, any other face
// its best against the faces of the matched reference part. Phase 1 spreads from the seed over
// faces with a match level, the faces matched before as walls (mark 3); phase 2 from every
// matched face over the rest.
void literalPropagateMatches(FaceModel* ref, FaceModel* tgt, int partIndex) {
  const ModelPart &tp = tgt->parts[partIndex], &rp = ref->parts[tp.matchedPart];
  std::vector<SeedCandidate> records;
  for (int i = 0; i < tp.faceCount; ++i) {
    const ModelFace& t = tgt->faces[tp.faces[i]];
    SeedCandidate record{1e308, tp.faces[i], -1};
    if (t.matchedFace >= 0)
      record = {0.5 * profileScore(*tgt, t, *ref, ref->faces[t.matchedFace]), tp.faces[i],
                t.matchedFace};
    for (int j = 0; j < rp.faceCount && t.matchedFace < 0; ++j) {
      double s = profileScore(*tgt, t, *ref, ref->faces[rp.faces[j]]);
      if (s < record.score) record = {s, tp.faces[i], rp.faces[j]};
    }
    records.push_back(record);
  }
  int chosen = literalChooseSeed(records);
  if (chosen < 0) return;
  const SeedCandidate seed = records[chosen];
  for (int phase = 1; phase <= 2; ++phase) {
    for (int i = 0; i < tp.faceCount; ++i)
      tgt->faces[tp.faces[i]].mark = 0;
    for (int i = 0; i < rp.faceCount; ++i)
      ref->faces[rp.faces[i]].mark = 0;
    for (int i = 0; i < tp.faceCount; ++i) {
      ModelFace& t = tgt->faces[tp.faces[i]];
      if (t.matchedFace >= 0) t.mark = ref->faces[t.matchedFace].mark = phase == 1 ? 3 : 1;
    }
    if (phase == 1) {
      tgt->faces[seed.targetFace].matchedFace = seed.referenceFace;
      tgt->faces[seed.targetFace].mark = ref->faces[seed.referenceFace].mark = 1;
    }
    while (literalStep(ref, tgt, tp, seed.targetFace, phase == 1)) {
    }
  }
}
