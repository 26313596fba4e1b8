// The matching stages: coincidence pairing against its plain scans, part matching on the
// cases of tests/data/match/partMatching.txt, and face matching's direct tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "match/coincidence.h"
#include "match/faceMatching.h"
#include "match/partMatching.h"
#include "model/partGrouping.h"
#include "reference/plainPairing.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

using Ints = std::vector<int>;

struct SettingsReset {
  MatchSettings saved = matchSettings;
  ~SettingsReset() { matchSettings = saved; }
};

// Every field the pairing sets: the partners of the reference points, target points,
// reference faces and target faces, then coincidentPart and matchedPart of each target part.
Ints pairingOf(const FaceModel* ref, const FaceModel* tgt) {
  Ints p;
  for (int i = 0; i < ref->pointCount; ++i)
    p.push_back(ref->points[i].partner);
  for (int j = 0; j < tgt->pointCount; ++j)
    p.push_back(tgt->points[j].partner);
  for (int k = 0; k < ref->faceCount; ++k)
    p.push_back(ref->faces[k].partnerFace);
  for (int j = 0; j < tgt->faceCount; ++j)
    p.push_back(tgt->faces[j].partnerFace);
  for (int q = 0; q < tgt->partCount; ++q)
    p.insert(p.end(), {tgt->parts[q].coincidentPart, tgt->parts[q].matchedPart});
  return p;
}

// A coordinate near grid cell borders (1/256) or tolerance borders, huge, subnormal, signed
// zero or not finite; small spreads crowd many points within the tolerance of each other.
double awkwardValue(std::mt19937& rng, int spread) {
  const double offsets[] = {0, 1e-12, -1e-12, 5e-4, -5e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1.1e-3};
  const double odd[] = {0x1p50, 0x1p44,   1e300,     -1e300, 8.5e12,
                        NAN,    INFINITY, -INFINITY, -0.0,   4.9e-324};
  int k = static_cast<int>(rng() % (2 * spread + 1)) - spread;
  switch (rng() % 16) {
    case 0:
      return k / 256.0 + offsets[rng() % 10];
    case 1:
      return k * 0.001 + offsets[rng() % 10];
    case 2:
      return std::nextafter(k / 256.0, (rng() % 2) ? 1.0 : -1.0);
    case 3:
      return std::nextafter(odd[rng() % 10], 0.0);
    case 4:
      return odd[rng() % 10];
    default:
      return k * 0.0005 + ((rng() % 3 == 0) ? offsets[rng() % 10] : 0.0);
  }
}

// Random faces over awkward points in four groups, some given twice, and a target repeating
// most of them over points kept or moved near the tolerance (corners rotated, triangles made
// quads, quads cut, faces shuffled), with faces of its own joining the groups; seed 0 leaves
// the reference empty. Grouped, measured, and every
// field the pairing sets holding 7.
void randomPair(unsigned seed, ModelPtr& ref, ModelPtr& tgt) {
  std::mt19937 rng(seed);
  const double shifts[] = {0, 0, 0, 4e-4, -4e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1e-15};
  std::vector<Vec3> refPoints, tgtPoints;
  const int points = 20 + static_cast<int>(rng() % 200);
  auto awkward = [&] { return awkwardValue(rng, seed % 2 ? 4 : 400); };
  for (int i = 0; i < points; ++i) {
    Vec3 p{awkward(), awkward(), awkward()};
    unsigned kind = rng() % 10;
    refPoints.push_back(p);
    tgtPoints.push_back(kind == 0  ? Vec3{awkward(), awkward(), awkward()}
                        : kind < 6 ? p
                                   : Vec3{p.x + shifts[rng() % 10], p.y + shifts[rng() % 10],
                                          p.z + shifts[rng() % 10]});
  }
  auto add = [&](FaceModel* model, const Ints& face, const std::vector<Vec3>& at) {
    Vec3 c[4] = {at[face[0]], at[face[1]], at[face[2]], at[face[face.size() - 1]]};
    ASSERT_EQ(addFace(model, "L", c), 1);
  };
  std::vector<Ints> tgtFaces;
  for (int f = 10 + static_cast<int>(rng() % 300); f > 0; --f) {
    Ints face(3 + rng() % 2);
    const int cluster = static_cast<int>(rng() % 4) * points / 4;  // a few reference parts
    for (int& corner : face)
      corner = cluster + static_cast<int>(rng() % (points / 4));
    if (seed > 0) add(ref.get(), face, refPoints);
    if (seed > 0 && rng() % 8 == 0) add(ref.get(), {face[1], face[2], face[0]}, refPoints);
    if (rng() % 5 == 0) continue;
    size_t start = rng() % face.size(), size = face.size(), change = rng() % 6;
    if (change < 2) size = change == 0 ? 4 : 3;
    Ints copy;
    for (size_t i = 0; i < size; ++i)
      copy.push_back(i < face.size() ? face[(start + i) % face.size()] : rng() % points);
    tgtFaces.insert(tgtFaces.begin() + rng() % (tgtFaces.size() + 1), copy);
  }
  for (int extra = static_cast<int>(rng() % 20); extra > 0; --extra)
    tgtFaces.push_back({int(rng() % points), int(rng() % points), int(rng() % points)});
  for (const Ints& face : tgtFaces)
    add(tgt.get(), face, tgtPoints);
  for (FaceModel* model : {ref.get(), tgt.get()}) {
    ASSERT_TRUE(model->faceCount == 0 || (groupParts(model) && measureParts(model)));
    for (int i = 0; i < model->pointCount; ++i)
      model->points[i].partner = 7;
    for (int i = 0; i < model->faceCount; ++i)
      model->faces[i].partnerFace = 7;
    for (int i = 0; i < model->partCount; ++i)
      model->parts[i].coincidentPart = model->parts[i].matchedPart = 7;
  }
}

// Points pair within 0.001 on each axis strictly (across cell borders; NaN and infinity
// never), faces on their reference face's own sorted corners, parts once a second
// face lands in the first face's reference part: all exactly as the plain scans decide.
TEST(PairCoincidentGeometry, RandomModelsPairAsThePlainScansDo) {
  int pairedFaces = 0, anchoredParts = 0;
  for (unsigned seed = 0; seed <= 60; ++seed) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget")), plainRef(createModel("Ref")),
        plainTgt(createModel("Terget"));
    randomPair(seed, ref, tgt);
    randomPair(seed, plainRef, plainTgt);
    ASSERT_EQ(pairCoincidentGeometry(ref.get(), tgt.get()), 1);
    plainPairCoincidentGeometry(plainRef.get(), plainTgt.get());
    EXPECT_EQ(pairingOf(ref.get(), tgt.get()), pairingOf(plainRef.get(), plainTgt.get())) << seed;
    for (int j = 0; j < tgt->faceCount; ++j)
      pairedFaces += plainTgt->faces[j].partnerFace >= 0;
    for (int q = 0; q < tgt->partCount; ++q)
      anchoredParts += plainTgt->parts[q].coincidentPart >= 0;
  }
  EXPECT_GT(pairedFaces, 1000);  // the models exercise the face pairing, not just misses
  EXPECT_GT(anchoredParts, 20);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);)
    parts.push_back(part);
  return parts;
}

std::vector<double> numbers(const std::string& text) {
  std::vector<double> values;
  std::istringstream in(text);
  for (std::string word; in >> word;)
    if (word != "-") values.push_back(std::stod(word));
  return values;
}

// A model built record by record from parts written as in partMatching.txt, so that every
// measure is exactly as given.
ModelPtr partModel(const std::string& text) {
  std::vector<std::vector<double>> shapes;
  for (const std::string& part : split(text, ';')) {
    std::vector<double> s = numbers(part), fill = {0, 0, 0, 1, 3, 0, -1, 0};
    if (s.empty()) continue;
    s.insert(s.end(), fill.begin() + s.size(), fill.end());
    shapes.push_back(s);
  }
  ModelPtr model(createModel("M"));
  for (const auto& s : shapes)
    model->faceCount += s[3], model->pointCount += s[4];
  model->faces = static_cast<ModelFace*>(gcalloc(sizeof(ModelFace) * model->faceCount));
  model->points = static_cast<ModelPoint*>(gcalloc(sizeof(ModelPoint) * model->pointCount));
  model->parts = static_cast<ModelPart*>(gcalloc(sizeof(ModelPart) * shapes.size()));
  model->faceCapacity = model->faceCount, model->pointCapacity = model->pointCount;
  model->partCount = static_cast<int>(shapes.size());
  model->meanSize = 1.0;
  for (int i = 0, face = 0, point = 0; i < model->partCount; ++i) {
    const std::vector<double>& s = shapes[i];
    ModelPart& part = model->parts[i];
    part.centre = {s[2], 0, 0}, part.size = s[0], part.number = i + 1, part.radiusSum = s[1];
    part.coincidentPart = part.matchedPart = static_cast<int>(s[6]);
    part.angleSignature[8] = s[7];
    part.faceCount = static_cast<int>(s[3]);
    part.faces = static_cast<int32_t*>(gmalloc(sizeof(int32_t) * (part.faceCount + 1)));
    for (int f = 0; f < part.faceCount; ++f, ++face) {
      part.faces[f] = face;
      model->faces[face].part = part.number;
      model->faces[face].normal = {f == 0 ? s[5] : 0.0, 0.0, 0.0};
    }
    for (int p = 0; p < s[4]; ++p, ++point)
      model->points[point].part = part.number;
  }
  return model;
}

// The size stage, the rejection limits, the claims, and the normal-sum, signature and
// point-count passes, case by case (the file says what each case shows).
TEST(MatchParts, StagesAndPassesTakeTheExpectedParts) {
  SettingsReset reset;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  std::ifstream file(testDataPath("match/partMatching.txt"));
  int cases = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::vector<std::string> f = split(line, '|');
    f.resize(7);
    std::vector<double> settings = numbers(f[0]);
    matchSettings.groupSingleMatching = settings[0];
    matchSettings.groupMultipleMatching = settings[1];
    matchSettings.faceCountMatching = settings[2];
    ModelPtr ref = partModel(f[1]), tgt = partModel(f[2]);
    matchParts(ref.get(), tgt.get());
    std::vector<double> matched, counts, deviations, points;
    for (int i = 0; i < tgt->partCount; ++i)
      matched.push_back(tgt->parts[i].matchedPart);
    const ModelPart& last = tgt->parts[tgt->partCount - 1];
    for (int i = 0; i < ref->partCount; ++i) {
      counts.push_back(ref->parts[i].matchCount);
      points.push_back(ref->parts[i].pointCount);
    }
    deviations = {last.sizeDeviation, last.radiusDeviation, last.centreDeviation};
    auto expect = [](const std::vector<double>& got, const std::string& field) {
      std::vector<double> want = numbers(field);
      EXPECT_EQ(got, want.empty() ? got : want) << field;
    };
    expect(matched, f[3]), expect(counts, f[4]), expect(deviations, f[5]), expect(points, f[6]);
    ++cases;
  }
  EXPECT_EQ(cases, 38);
}

// Five bumpy surfaces of different sizes, faces shuffled, every size match rejected (no
// claims, so every part is measured): the measures are the plain sums over the model.
TEST(MatchParts, MeasuresAreThePlainSumsOverTheModel) {
  SettingsReset reset;
  matchSettings.groupMultipleMatching = matchSettings.groupSingleMatching = -1.0;
  ModelPtr models[2];
  for (uint32_t seed : {1, 7}) {
    std::vector<SurfaceFace> faces;
    for (int i = 0; i < 5; ++i) {
      std::vector<SurfaceFace> s = randomSurface(seed + i, 1 + i, 1 + i % 2, {5.0 * i, 0, 0});
      faces.insert(faces.end(), s.begin(), s.end());
    }
    models[seed > 1] = buildSurfaceModel(shuffledSurface(faces, seed, {0.5, 0.25, 0}), "M");
  }
  ASSERT_EQ(models[1]->partCount, 5);
  matchParts(models[0].get(), models[1].get());
  for (const ModelPtr& model : models) {
    for (int p = 0; p < model->partCount; ++p) {
      const ModelPart& part = model->parts[p];
      int points = 0;
      double normalSum = 0.0;
      for (int i = 0; i < model->pointCount; ++i)
        points += model->points[i].part == part.number;
      for (const ModelFace* f = model->faces; f < model->faces + model->faceCount; ++f)
        if (f->part == part.number) normalSum += f->normal.x + f->normal.y + f->normal.z;
      EXPECT_TRUE(points > 0 && part.pointCount == points) << p;
      EXPECT_EQ(part.normalSum, normalSum) << p;
      EXPECT_EQ(part.centreDistance, vectorLength(part.centre) / model->meanSize) << p;
    }
  }
}

SurfaceFace triangle(Vec3 a, Vec3 b, Vec3 c) {
  return {a, b, c, c};
}

// The three direct tests in reference list order: the first face passing all three is taken,
// matchLevel counts angle passes, normal passes among them, and 1 for the taken face; with no
// face taken the one-face part takes its best-scored face by propagation, from profiles.
TEST(MatchFaces, DirectTestsAndMatchLevel) {
  SettingsReset reset;
  matchSettings.faceAngleMatching = 0.5;
  matchSettings.vectorMatching = matchSettings.facePositionMatching = 0.1;
  matchSettings.sameFaceAngleAdvantage = 0;
  struct Case {
    const char* passes[3];  // tests each reference face passes: Angle, Normal, Position
    int level, matched;     // matched -1: no face passed (propagation decides)
  } cases[] = {{{"A", "A", "ANP"}, 5, 2},    {{"ANP", "ANP", ""}, 3, 0}, {{"", "", ""}, 0, -1},
               {{"AN", "ANP", "ANP"}, 5, 1}, {{"AN", "A", ""}, 3, -1},   {{"", "P", "ANP"}, 3, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level);
    ModelPtr reference = buildSurfaceModel({triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}),
                                            triangle({1, 0, 0}, {1, 1, 0}, {0, 1, 0}),
                                            triangle({1, 1, 0}, {0, 2, 0}, {0, 1, 0})});
    ModelPtr target = buildSurfaceModel({triangle({5, 0, 0}, {6, 0, 0}, {5, 1, 0})}, "Terget");
    // Against a target face of zero signature, normal (0, 0, 1), scaled centre 0: an angle
    // bin of 10 gives 10 / (2 pi), not below 0.5.
    for (int g = 0; g < 3; ++g) {
      ModelFace& face = reference->faces[g];
      std::fill_n(face.angleSignature, 17, 0.0);
      face.angleSignature[8] = std::strchr(c.passes[g], 'A') ? 0.0 : 10.0;
      face.normal = std::strchr(c.passes[g], 'N') ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
      face.scaledCentre = std::strchr(c.passes[g], 'P') ? Vec3{0, 0, 0} : Vec3{1, 0, 0};
    }
    ModelFace& f = target->faces[0];
    f.scaledCentre = {0, 0, 0};
    target->parts[0].matchedPart = 0;
    ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
    EXPECT_EQ(f.matchLevel, c.level);
    EXPECT_EQ(f.profile == nullptr, c.matched >= 0);
    EXPECT_TRUE(c.matched < 0 ? f.matchedFace >= 0 : f.matchedFace == c.matched) << f.matchedFace;
  }
}

// Target part 0 (a moved copy of reference part 0, no face passing the angle test) has face 3
// coincident with a face of reference part 1, whose profiles are computed so that the face's
// seed record can be scored; it keeps its partner at level 9. Part 1, all coincident, takes
// its partner at level 9 without profiles; part 2 has no matched part and stays unmatched.
TEST(MatchFaces, CoincidentFacesUnmatchedPartsAndPartnersInOtherReferenceParts) {
  SettingsReset reset;
  matchSettings.faceAngleMatching = -1e9;
  std::vector<SurfaceFace> surface = randomSurface(31, 4, 3, {0, 0, 0});
  std::vector<SurfaceFace> referenceFaces = surface, other = randomSurface(32, 2, 2, {50, 0, 0});
  referenceFaces.insert(referenceFaces.end(), other.begin(), other.end());
  std::vector<SurfaceFace> targetFaces = shuffledSurface(surface, 33, {0, 9, 0});
  const int n = static_cast<int>(targetFaces.size());
  targetFaces.push_back(triangle({90, 0, 0}, {91, 0, 0}, {90, 1, 0}));
  targetFaces.push_back(triangle({95, 0, 0}, {96, 0, 0}, {95, 1, 0}));
  ModelPtr reference = buildSurfaceModel(referenceFaces);
  ModelPtr target = buildSurfaceModel(targetFaces, "Terget");
  ASSERT_TRUE(reference && target && reference->partCount == 2 && target->partCount == 3);
  int otherFace = reference->parts[1].faces[1];
  target->faces[3].partnerFace = otherFace;
  target->faces[n].partnerFace = 0;
  target->faces[n + 1].partnerFace = 1;
  target->parts[0].matchedPart = target->parts[1].matchedPart = 0;
  target->parts[2].matchedPart = -1;
  ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
  EXPECT_TRUE(reference->parts[1].flags & 1 && reference->faces[otherFace].profile);
  const ModelFace &t3 = target->faces[3], &tn = target->faces[n], &tn1 = target->faces[n + 1];
  EXPECT_EQ(Ints({t3.matchedFace, t3.matchLevel, tn.matchedFace, tn.matchLevel, tn1.matchedFace,
                  tn1.matchLevel, target->parts[1].flags}),
            Ints({otherFace, 9, 0, 9, -1, 0, 0}));
  EXPECT_TRUE(!tn.profile && !tn1.profile);
}

}  // namespace
