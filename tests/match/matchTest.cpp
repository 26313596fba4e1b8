// The matching stages (coincidence pairing against its plain scans, part matching on the cases
// of tests/data/match/partMatching.txt, face matching's direct tests), whole matching runs on
// small models written as DXF files, and the batch tool's arguments run as a program.
// (Allocation failures and hostile paths and outputs are the hardening tests' part.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "match/coincidence.h"
#include "match/faceMatching.h"
#include "match/matchingRun.h"
#include "match/partMatching.h"
#include "model/partGrouping.h"
#include "output/dxfWriter.h"
#include "reference/plainPairing.h"
#include "support/testSupport.h"
#include "textfiles/allocator.h"
#include "textfiles/settings.h"

namespace {

namespace fs = std::filesystem;
using Ints = std::vector<int>;
using Faces = std::vector<DxfFace>;
using Tally = std::array<int, 4>;  // coincident, by tests, by propagation, unmatched

// Every field the pairing sets: the partners of the reference points, target points,
// reference faces and target faces, then coincidentPart and matchedPart of each target part.
Ints pairingOf(const FaceModel* ref, const FaceModel* tgt) {
  Ints p;
  for (const FaceModel* m : {ref, tgt})
    for (int i = 0; i < m->pointCount; ++i)
      p.push_back(m->points[i].partner);
  for (const FaceModel* m : {ref, tgt})
    for (int i = 0; i < m->faceCount; ++i)
      p.push_back(m->faces[i].partnerFace);
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
  const int k = static_cast<int>(rng() % (2 * spread + 1)) - spread;
  const unsigned kind = rng() % 16;
  if (kind == 0) return k / 256.0 + offsets[rng() % 10];
  if (kind == 1) return k * 0.001 + offsets[rng() % 10];
  if (kind == 2) return std::nextafter(k / 256.0, (rng() % 2) ? 1.0 : -1.0);
  if (kind == 3) return std::nextafter(odd[rng() % 10], 0.0);
  if (kind == 4) return odd[rng() % 10];
  return k * 0.0005 + ((rng() % 3 == 0) ? offsets[rng() % 10] : 0.0);
}

// Random faces over awkward points in four groups, some given twice, and a target repeating
// most of them over points kept or moved near the tolerance (corners rotated, triangles made
// quads, quads cut, faces shuffled), with faces of its own joining the groups; seed 0 leaves
// the reference empty. Grouped, measured, and every field the pairing sets holding 7.
void randomPair(unsigned seed, FaceModel* ref, FaceModel* tgt) {
  std::mt19937 rng(seed);
  const double shifts[] = {0, 0, 0, 4e-4, -4e-4, 9.99e-4, -9.99e-4, 1e-3, -1e-3, 1e-15};
  std::vector<Vec3> refPoints, tgtPoints;
  const int points = 20 + static_cast<int>(rng() % 200);
  auto awkward = [&] { return awkwardValue(rng, seed % 2 ? 4 : 400); };
  auto shift = [&] { return shifts[rng() % 10]; };
  for (int i = 0; i < points; ++i) {
    Vec3 p{awkward(), awkward(), awkward()};
    unsigned kind = rng() % 10;
    refPoints.push_back(p);
    tgtPoints.push_back(kind == 0  ? Vec3{awkward(), awkward(), awkward()}
                        : kind < 6 ? p
                                   : Vec3{p.x + shift(), p.y + shift(), p.z + shift()});
  }
  auto add = [&](FaceModel* model, const Ints& face, const std::vector<Vec3>& at) {
    Vec3 c[4] = {at[face[0]], at[face[1]], at[face[2]], at[face.back()]};
    ASSERT_EQ(addFace(model, "L", c), 1);
  };
  std::vector<Ints> tgtFaces;
  for (int f = 10 + static_cast<int>(rng() % 300); f > 0; --f) {
    Ints face(3 + rng() % 2);
    const int cluster = static_cast<int>(rng() % 4) * points / 4;  // a few reference parts
    for (int& corner : face)
      corner = cluster + static_cast<int>(rng() % (points / 4));
    if (seed > 0) add(ref, face, refPoints);
    if (seed > 0 && rng() % 8 == 0) add(ref, {face[1], face[2], face[0]}, refPoints);
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
    add(tgt, face, tgtPoints);
  for (FaceModel* model : {ref, tgt}) {
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
// never), faces on their reference face's own sorted corners, parts once a second face lands
// in the first face's reference part: all exactly as the plain scans decide.
TEST(PairCoincidentGeometry, RandomModelsPairAsThePlainScansDo) {
  int pairedFaces = 0, anchoredParts = 0;
  for (unsigned seed = 0; seed <= 60; ++seed) {
    ModelPtr ref(createModel("Ref")), tgt(createModel("Terget")), plainRef(createModel("Ref")),
        plainTgt(createModel("Terget"));
    randomPair(seed, ref.get(), tgt.get());
    randomPair(seed, plainRef.get(), plainTgt.get());
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

std::vector<double> numbers(const std::string& text) {  // "-" skipped
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
  ModelPtr model(createModel("M"));
  for (const std::string& part : splitText(text, ';')) {
    std::vector<double> s = numbers(part), fill = {0, 0, 0, 1, 3, 0, -1, 0};
    if (s.empty()) continue;
    s.insert(s.end(), fill.begin() + s.size(), fill.end());
    shapes.push_back(s);
    model->faceCount += s[3], model->pointCount += s[4];
  }
  model->faces = static_cast<ModelFace*>(gcalloc(sizeof(ModelFace) * model->faceCount));
  model->points = static_cast<ModelPoint*>(gcalloc(sizeof(ModelPoint) * model->pointCount));
  model->parts = static_cast<ModelPart*>(gcalloc(sizeof(ModelPart) * shapes.size()));
  model->faceCapacity = model->faceCount, model->pointCapacity = model->pointCount;
  model->partCount = static_cast<int>(shapes.size()), model->meanSize = 1.0;
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
  SettingsRestore reset;
  matchSettings.sameFaceAngleAdvantage = 0.25;
  std::ifstream file(testDataPath("match/partMatching.txt"));
  int cases = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::vector<std::string> f = splitText(line, '|');
    f.resize(7);
    std::vector<double> settings = numbers(f[0]), matched, counts, points;
    matchSettings.groupSingleMatching = settings[0];
    matchSettings.groupMultipleMatching = settings[1];
    matchSettings.faceCountMatching = settings[2];
    ModelPtr ref = partModel(f[1]), tgt = partModel(f[2]);
    matchParts(ref.get(), tgt.get());
    for (int i = 0; i < tgt->partCount; ++i)
      matched.push_back(tgt->parts[i].matchedPart);
    for (int i = 0; i < ref->partCount; ++i)
      counts.push_back(ref->parts[i].matchCount), points.push_back(ref->parts[i].pointCount);
    const ModelPart& last = tgt->parts[tgt->partCount - 1];
    const std::vector<double> got[] = {
        matched, counts, {last.sizeDeviation, last.radiusDeviation, last.centreDeviation}, points};
    for (int i = 0; i < 4; ++i) {
      std::vector<double> want = numbers(f[3 + i]);
      EXPECT_EQ(got[i], want.empty() ? got[i] : want) << f[3 + i];
    }
    ++cases;
  }
  EXPECT_EQ(cases, 38);
}

// Five bumpy surfaces of different sizes, faces shuffled, every size match rejected (no
// claims, so every part is measured): the measures are the plain sums over the model.
TEST(MatchParts, MeasuresAreThePlainSumsOverTheModel) {
  SettingsRestore reset;
  matchSettings.groupMultipleMatching = matchSettings.groupSingleMatching = -1.0;
  std::vector<SurfaceFace> faces;
  for (int i = 0; i < 5; ++i) {
    std::vector<SurfaceFace> s = randomSurface(1 + i, 1 + i, 1 + i % 2, {5.0 * i, 0, 0});
    faces.insert(faces.end(), s.begin(), s.end());
  }
  ModelPtr models[] = {buildSurfaceModel(shuffledSurface(faces, 1, {0.5, 0.25, 0}), "M"),
                       buildSurfaceModel(shuffledSurface(faces, 7, {0.5, 0.25, 0}), "M")};
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
      EXPECT_TRUE(points > 0 && part.pointCount == points && part.normalSum == normalSum &&
                  part.centreDistance == vectorLength(part.centre) / model->meanSize)
          << p;
    }
  }
}

// The three direct tests in reference list order: the first face passing all three is taken,
// matchLevel counts angle passes, normal passes among them, and 1 for the taken face; with no
// face taken the one-face part takes its best-scored face by propagation, from profiles.
TEST(MatchFaces, DirectTestsAndMatchLevel) {
  SettingsRestore reset;
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
    ModelPtr reference = buildSurfaceModel({{Vec3{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 0}},
                                            {Vec3{1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 1, 0}},
                                            {Vec3{1, 1, 0}, {0, 2, 0}, {0, 1, 0}, {0, 1, 0}}});
    ModelPtr target =
        buildSurfaceModel({{Vec3{5, 0, 0}, {6, 0, 0}, {5, 1, 0}, {5, 1, 0}}}, "Terget");
    // Against a target face of zero signature, normal (0, 0, 1), scaled centre 0: an angle
    // bin of 10 gives 10 / (2 pi), not below 0.5.
    for (int g = 0; g < 3; ++g) {
      ModelFace& face = reference->faces[g];
      double* signature = reference->faceSignatures + g * kFaceSignatureBins;
      std::fill_n(signature, kFaceSignatureBins, 0.0);
      signature[8] = std::strchr(c.passes[g], 'A') ? 0.0 : 10.0;
      face.normal = std::strchr(c.passes[g], 'N') ? Vec3{0, 0, 1} : Vec3{1, 0, 0};
      face.scaledCentre = std::strchr(c.passes[g], 'P') ? Vec3{0, 0, 0} : Vec3{1, 0, 0};
    }
    ModelFace& f = target->faces[0];
    f.scaledCentre = {0, 0, 0};
    target->parts[0].matchedPart = 0;
    ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
    EXPECT_TRUE(f.matchLevel == c.level && !f.profile &&
                (target->parts[0].flags & kPartProfilesComputed) == (c.matched < 0));
    EXPECT_TRUE(c.matched < 0 ? f.matchedFace >= 0 : f.matchedFace == c.matched) << f.matchedFace;
  }
}

// Target part 0 (a moved copy of reference part 0, no face passing the angle test) has face 3
// coincident with a face of reference part 1, whose profiles are computed so that the face's
// seed record can be scored; it keeps its partner at level 9. Part 1, all coincident, takes
// its partner (face 0) at level 9 without profiles; part 2 has no matched part and stays
// unmatched.
TEST(MatchFaces, CoincidentFacesUnmatchedPartsAndPartnersInOtherReferenceParts) {
  SettingsRestore reset;
  matchSettings.faceAngleMatching = -1e9;
  std::vector<SurfaceFace> surface = randomSurface(31, 4, 3, {0, 0, 0});
  std::vector<SurfaceFace> referenceFaces = surface, other = randomSurface(32, 2, 2, {50, 0, 0});
  referenceFaces.insert(referenceFaces.end(), other.begin(), other.end());
  std::vector<SurfaceFace> targetFaces = shuffledSurface(surface, 33, {0, 9, 0});
  const int n = static_cast<int>(targetFaces.size());
  targetFaces.push_back(SurfaceFace{Vec3{90, 0, 0}, {91, 0, 0}, {90, 1, 0}, {90, 1, 0}});
  targetFaces.push_back(SurfaceFace{Vec3{95, 0, 0}, {96, 0, 0}, {95, 1, 0}, {95, 1, 0}});
  ModelPtr reference = buildSurfaceModel(referenceFaces);
  ModelPtr target = buildSurfaceModel(targetFaces, "Terget");
  ASSERT_TRUE(reference && target && reference->partCount == 2 && target->partCount == 3);
  const int otherFace = reference->parts[1].faces[1];
  target->faces[3].partnerFace = otherFace;
  target->faces[n].partnerFace = 0, target->faces[n + 1].partnerFace = 1;
  target->parts[0].matchedPart = target->parts[1].matchedPart = 0;
  target->parts[2].matchedPart = -1;
  ASSERT_EQ(matchFaces(reference.get(), target.get()), 1);
  // Computed for the part's seed records, then released: no target part is left to read them.
  EXPECT_TRUE(reference->parts[1].flags & 1 && !reference->faces[otherFace].profile);
  const ModelFace &t3 = target->faces[3], &tn = target->faces[n], &tn1 = target->faces[n + 1];
  EXPECT_EQ(Ints({t3.matchedFace, t3.matchLevel, tn.matchedFace, tn.matchLevel, tn1.matchedFace,
                  tn1.matchLevel, target->parts[1].flags, !tn.profile && !tn1.profile}),
            Ints({otherFace, 9, 0, 9, -1, 0, 0, 1}));
}

class MatchingRun : public ::testing::Test {
 protected:
  void SetUp() override {
    useDefaultSettings(), textureRotation = 0;
    std::ifstream file(testDataPath("match/runs.txt"));
    for (std::string line, name; std::getline(file, line);) {
      if (line.starts_with("run ")) cases.push_back(splitText(line.substr(4), ';'));
      if (line.starts_with("= ")) models[name = line.substr(2)];
      if (line.empty() || line[0] == '#' || line[0] == '=' || line.starts_with("run ")) continue;
      std::vector<double> v = numbers(line.substr(line.find(' ')));
      models[name].push_back({line.substr(0, line.find(' ')), std::vector<Vec3>(4)});
      for (int k = 0; k < 4; ++k)
        models[name].back().corners[k] = {v[3 * k], v[3 * k + 1], v[3 * k + 2]};
    }
  }
  void TearDown() override { releaseRunData(); }
  std::string write(const std::string& name, const Faces& faces) {
    writeFileBytes(folder.file(name), dxfText(faces, {"made by the test"}));
    return folder.file(name);
  }
  // Runs the matching; gives its result, the progress lines joined by "|", the tally and the
  // layers written from the run's state (none when the run failed).
  int run(const std::string& reference, const std::string& target) {
    dialog.progress.clear(), progress.clear(), layers.clear(), tally = {};
    int result = runMatching(&dialog.port, reference.c_str(), target.c_str());
    for (const std::string& line : dialog.progress)
      progress += (progress.empty() ? "" : "|") + line;
    if (!result) return 0;
    MatchTally t = tallyMatches(referenceModel, targetModel);
    tally = {t.coincident, t.byTests, t.byPropagation, t.unmatched};
    EXPECT_EQ(saveTargetDxf(folder.file("out.dxf").c_str()), 1);
    std::string written = readFileBytes(folder.file("out.dxf"));
    EXPECT_TRUE(
        written.starts_with("0\r\nSECTION\r\n2\r\nENTITIES\r\n999\r\nmade by the test\r\n"));
    layers = dxfLayers(written);
    return 1;
  }
  QuietReports folder;
  RecordingDialog dialog;
  std::string progress;
  Tally tally{};
  Lines layers;
  std::map<std::string, Faces> models;  // tests/data/match/runs.txt
  std::vector<Lines> cases;
};

// Only the whole name (any case) means no reference: "NULL ", "No Use.dxf" and "nul" are
// missing files, reported, and the run goes on without. A target without faces ends the run.
// Each run releases what the run before it left.
TEST_F(MatchingRun, NamesMeaningNoReferenceAndFilesThatCannotBeRead) {
  const long before = gliveBlocks();
  const std::string target = write("t.dxf", models["own"]), lines = folder.file("lines.dxf");
  writeFileBytes(lines, "0\r\nSECTION\r\n2\r\nENTITIES\r\n0\r\nLINE\r\n0\r\nEOF\r\n");
  const Lines names = {"",      "NULL",       "null", "No Use",   "NO USE", "no use",  // none
                       "NULL ", "No Use.dxf", "nul",  folder.path};                    // unreadable
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(run(names[i], target), 1);
    EXPECT_EQ(progress, i < 6 ? "Start...|Done."
                              : "Start...|Read Error : Reference DXF. continue...|1 Parts / 6 "
                                "Faces / 8 Points|Done.");
    EXPECT_EQ(referenceModel != nullptr, i >= 6);
    EXPECT_EQ(layers, dxfLayers(readFileBytes(target)));
    EXPECT_EQ(tally, (Tally{0, 0, 0, 6}));
  }
  EXPECT_TRUE(!run(target, lines) && progress == "Start...|Empty Data : Terget DXF|Error Quit");
  EXPECT_EQ(run("", ""), 0);
  EXPECT_TRUE(!referenceModel && !targetModel && !commentList);
  EXPECT_EQ(gliveBlocks(), before);
}

// Boxes kept, moved or turned (tests/data/match/runs.txt): matched faces take the layers of
// their reference faces, by coincidence, by the face tests or by propagation. A face given
// twice, a face of one point, a NaN corner, a reference without faces, parts of single faces:
// the run ends and writes every face on a layer.
TEST_F(MatchingRun, MatchedFacesTakeTheLayersOfTheirReferenceFaces) {
  ASSERT_EQ(cases.size(), 9u);
  for (Lines& c : cases) {
    c.resize(5);
    SCOPED_TRACE(c[1]);
    ASSERT_EQ(run(write("r.dxf", models[c[0]]), write("t.dxf", models[c[1]])), 1);
    EXPECT_TRUE(c[2].empty() ? progress.ends_with("|Done.") : progress == c[2]) << progress;
    ASSERT_EQ(layers.size(), models[c[1]].size());
    EXPECT_EQ(std::count(layers.begin(), layers.end(), ""), 0);
    const Lines want = splitText(c[4], ',');
    for (size_t i = 0; i < want.size(); ++i)
      EXPECT_EQ(want[i] == "t_" ? layers[i].substr(0, 2) : layers[i], want[i]);
    EXPECT_EQ(tally[0] + tally[1] + tally[2] + tally[3], targetModel->faceCount);
    EXPECT_TRUE(c[3].empty() || numbers(c[3]) == std::vector<double>(tally.begin(), tally.end()));
  }
}

// Settings lines as the settings file holds them, from "sw rotation [lines kept]".
std::string settingsText(const std::string& words) {
  std::istringstream in(words);
  std::string sw, rotation, text;
  size_t kept = 9;
  if (!(in >> sw >> rotation)) return "";
  in >> kept;
  for (size_t i = 0; i < kept; ++i)
    text += (i == 0 ? sw : i == 3 ? rotation : std::string(kDefaultSettingsLines[i])) + "\r\n";
  return text;
}

// The batch tool, a copy with param.txt beside it (or none), on the cases of
// tests/data/match/batchTool.txt: usage errors, the rotation, why an output was not written.
// Nothing is written unless the run succeeds, and no settings file is ever written.
TEST(BatchTool, ArgumentsRotationAndReasons) {
  if (std::string(MORVANE_MATCH_PATH).empty()) GTEST_SKIP() << "morvane-match is not built";
  ScratchFolder folder;
  const std::string tool = folder.file("morvane-match"), param = folder.file("param.txt"),
                    out = folder.file("out.dxf");
  fs::copy_file(MORVANE_MATCH_PATH, tool);
  writeFileBytes(folder.file("square.dxf"),
                 dxfText({{"own", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}}}));
  writeFileBytes(folder.file("settings.txt"), settingsText("0 0"));
  // Exit status, then standard output and error and the first corner written as "x y".
  auto runTool = [&](Lines args) {
    std::string text;
    args.insert(args.begin(), tool), fs::remove(out);
    const int status = runProgram(args, folder.path, &text);
    Lines written = splitText(readFileBytes(out), '\n');
    auto at = std::find(written.begin(), written.end(), "10\r");
    text += at + 3 < written.end() ? at[1] + " " + at[3] : "";
    std::erase(text, '\r');
    while (text.ends_with('\n'))
      text.pop_back();
    return std::make_pair(status, text);
  };
  std::ifstream file(testDataPath("match/batchTool.txt"));
  int cases = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    const std::vector<std::string> f = splitText(line, '|');
    Lines args;
    std::istringstream words(f[1]);
    for (std::string w; words >> w;)
      args.push_back(w == "''"     ? ""
                     : w[0] != '@' ? w
                                   : folder.path + (w.size() > 1 ? "/" + w.substr(1) : ""));
    fs::remove(param);
    if (!settingsText(f[0]).empty()) writeFileBytes(param, settingsText(f[0]));
    const auto [status, text] = runTool(args);
    const std::string start = f[3].substr(1, f[3].find("...") - 1),
                      end = f[3].substr(f[3].find("...") + 3);
    EXPECT_EQ(status, std::stoi(f[2])) << text;
    EXPECT_TRUE(text.starts_with(start) && text.ends_with(end)) << text;
    EXPECT_EQ(fs::exists(out), status == 0 && args.size() > 1);
    EXPECT_EQ(readFileBytes(param), settingsText(f[0]));
    ++cases;
  }
  EXPECT_EQ(cases, 30);
  // The bundled example pair, written over a copy of its target (comments kept): every kind of
  // match takes part and every face gets the layer its generator expects.
  const std::string examples = std::string(TEST_DATA_DIR) + "/../../examples/",
                    t = folder.file("t.dxf");
  fs::copy_file(examples + "target.dxf", t);
  const auto [status, text] =
      runTool({"--settings", folder.file("settings.txt"), examples + "reference.dxf", t, t});
  Tally n = {0, 0, 0, -1};
  ASSERT_EQ(std::sscanf(text.substr(text.find("Faces: ")).c_str(),
                        "Faces: %d coincident / %d by tests / %d by propagation / %d unmatched",
                        &n[0], &n[1], &n[2], &n[3]),
            4)
      << text;
  EXPECT_TRUE(status == 0 && n[0] > 0 && n[1] > 0 && n[2] > 0 && n[3] == 0) << text;
  EXPECT_EQ(dxfLayers(readFileBytes(t)),
            splitText(readFileBytes(examples + "expected-layers.txt"), '\n'));
  EXPECT_NE(readFileBytes(t).find("999\r\nexample target: "), std::string::npos);
}

}  // namespace
