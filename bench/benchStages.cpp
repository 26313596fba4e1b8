#include "bench/benchStages.h"

#include <sys/stat.h>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/errorReport.h"
#include "app/programPath.h"
#include "bench/faceMatchingSteps.h"
#include "bench/modelGenerator.h"
#include "bench/processProbe.h"
#include "compare/angleSignature.h"
#include "match/coincidence.h"
#include "match/faceMatching.h"
#include "match/matchingRun.h"
#include "match/partMatching.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "output/dxfWriter.h"
#include "reference/plainPairing.h"
#include "textfiles/lineList.h"
#include "textfiles/settings.h"

using benchprobe::emit;

namespace {

// Times one stage and the peak resident size reached while it ran.
class Stage {
 public:
  explicit Stage(const char* name) : name_(name) {
    emit("begin", name_);
    benchprobe::resetPeakRss();
    start_ = benchprobe::nowSeconds();
  }
  void end() {
    emit(name_ + "_s", benchprobe::nowSeconds() - start_);
    emit(name_ + "_peak_kb", static_cast<long long>(benchprobe::peakRssKb()));
  }

 private:
  std::string name_;
  double start_ = 0.0;
};

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The run's environment: default settings, no corner rotation, and "perr.txt" in the data
// folder rather than beside the benchmark program.
void prepare(const std::string& anyPath) {
  reportAllocationFailures();
  setProgramDirectoryTo(folderOf(anyPath).c_str());
  useDefaultSettings();
  textureRotation = 0;
}

int fail(const char* what) {
  emit("failed", what);
  return 3;
}

// Loads and reads one DXF file from its bytes, as the run does.
FaceModel* readFile(const std::string& path, const char* source, LineList* comments) {
  int status = 0;
  return readDxfFile(path.c_str(), source, comments, textureRotation, &status);
}

bool readPair(const std::string& referencePath, const std::string& targetPath) {
  Stage stage("read");
  referenceModel = readFile(referencePath, "Ref", nullptr);
  commentList = newLineList();
  targetModel = readFile(targetPath, "Terget", commentList);
  if (!referenceModel || !targetModel || targetModel->partCount == 0) return false;
  stage.end();
  emit("faces", static_cast<long long>(targetModel->faceCount));
  emit("points", static_cast<long long>(targetModel->pointCount));
  emit("parts", static_cast<long long>(targetModel->partCount));
  emit("reference_parts", static_cast<long long>(referenceModel->partCount));
  return true;
}

// What the matching gave, against the generator's record of where each target face came from.
void emitOutcome(const std::vector<int32_t>& truth) {
  const FaceModel* reference = referenceModel;
  const FaceModel* target = targetModel;
  if (!reference || !target) return;
  MatchTally tally = tallyMatches(reference, target);
  emit("coincident", static_cast<long long>(tally.coincident));
  emit("by_tests", static_cast<long long>(tally.byTests));
  emit("by_propagation", static_cast<long long>(tally.byPropagation));
  emit("unmatched", static_cast<long long>(tally.unmatched));
  long long propagatedParts = 0;
  for (int32_t p = 0; p < target->partCount; ++p)
    propagatedParts += target->parts[p].flags & kPartProfilesComputed;
  emit("parts_propagated", propagatedParts);
  if (static_cast<int64_t>(truth.size()) != target->faceCount) {
    emit("truth", "size differs from the target's face count");
    return;
  }
  long long rightLayer = 0, rightFace = 0, rightParts = 0;
  for (int32_t i = 0; i < target->faceCount; ++i) {
    const ModelFace& face = target->faces[i];
    const char* layer = face.matchedFace >= 0 && face.matchedFace < reference->faceCount
                            ? faceLayer(reference->faces[face.matchedFace])
                            : faceLayer(face);
    rightLayer += std::strcmp(layer, faceLayer(reference->faces[truth[i]])) == 0;
    rightFace += face.matchedFace == truth[i];
  }
  for (int32_t p = 0; p < target->partCount; ++p) {
    const ModelPart& part = target->parts[p];
    if (part.faceCount > 0) {
      rightParts += part.matchedPart == reference->faces[truth[part.faces[0]]].part - 1;
    }
  }
  emit("right_layer", rightLayer);
  emit("right_face", rightFace);
  emit("right_parts", rightParts);
  // Faces whose reference part overflowed and was spread in the scrambled order, and how many of
  // them got the right layer: such parts should match like the others.
  long long scrambledParts = 0, scrambledFaces = 0, scrambledRight = 0;
  for (int32_t p = 0; p < reference->partCount; ++p)
    scrambledParts += (reference->parts[p].flags & kPartProfilesScrambled) != 0;
  for (int32_t i = 0; i < target->faceCount; ++i) {
    int32_t part = reference->faces[truth[i]].part - 1;
    if (part < 0 || !(reference->parts[part].flags & kPartProfilesScrambled)) continue;
    const ModelFace& face = target->faces[i];
    const char* layer = face.matchedFace >= 0 && face.matchedFace < reference->faceCount
                            ? faceLayer(reference->faces[face.matchedFace])
                            : faceLayer(face);
    ++scrambledFaces;
    scrambledRight += std::strcmp(layer, faceLayer(reference->faces[truth[i]])) == 0;
  }
  emit("scrambled_parts", scrambledParts);
  emit("scrambled_faces", scrambledFaces);
  emit("scrambled_right", scrambledRight);
}

// A run without reference as morvane-match makes it: runMatching reads the target from its
// bytes (grouping and measures included), then the streamed writer writes it under OUT.
int ioChild(const std::string& path, const std::string& outPath) {
  prepare(path);
  emit("base_kb", static_cast<long long>(benchprobe::currentRssKb()));
  Stage read("read");
  if (!runMatching(nullptr, "NULL", path.c_str()) || !targetModel) return fail("read");
  read.end();
  emit("faces", static_cast<long long>(targetModel->faceCount));
  emit("parts", static_cast<long long>(targetModel->partCount));
  Stage write("write");
  int saved = saveTargetDxf(outPath.c_str());
  write.end();
  emit("saved", static_cast<long long>(saved));
  struct stat info {};
  if (stat(outPath.c_str(), &info) == 0) emit("saved_bytes", static_cast<long long>(info.st_size));
  releaseRunData();
  return saved == 1 ? 0 : fail("write");
}

int pairingChild(const std::string& ref, const std::string& tgt, const std::string& truthPath,
                 bool plain) {
  prepare(tgt);
  if (!readPair(ref, tgt)) return fail("read");
  if (!plain) {
    Stage signatures("signatures");
    if (!computeAngleSignatures(targetModel) || !computeAngleSignatures(referenceModel)) {
      return fail("signatures");
    }
    signatures.end();
  }
  Stage pairing("pairing");
  if (!pairCoincidentGeometry(referenceModel, targetModel)) return fail("pairing");
  pairing.end();

  const FaceModel& r = *referenceModel;
  const FaceModel& t = *targetModel;
  long long points = 0, faces = 0, anchored = 0, exact = 0;
  std::vector<int32_t> truth = benchgen::readTruth(truthPath);
  for (int32_t i = 0; i < t.pointCount; ++i)
    points += t.points[i].partner >= 0;
  for (int32_t i = 0; i < t.faceCount; ++i) {
    faces += t.faces[i].partnerFace >= 0;
    if (static_cast<int64_t>(truth.size()) == t.faceCount)
      exact += t.faces[i].partnerFace == truth[i];
  }
  for (int32_t p = 0; p < t.partCount; ++p)
    anchored += t.parts[p].coincidentPart >= 0;
  emit("paired_points", points);
  emit("paired_faces", faces);
  emit("paired_as_generated", exact);
  emit("anchored_parts", anchored);
  long long multiFaceParts = 0;
  for (int32_t p = 0; p < t.partCount; ++p)
    multiFaceParts += t.parts[p].faceCount > 1;
  emit("multi_face_parts", multiFaceParts);
  if (!plain) {
    releaseRunData();
    return 0;
  }

  // Keep the fast results, then let the plain scans overwrite the same fields.
  std::vector<int32_t> pointPartners, faceLinks, partLinks;
  for (int32_t i = 0; i < t.pointCount; ++i)
    pointPartners.push_back(t.points[i].partner);
  for (int32_t i = 0; i < r.pointCount; ++i)
    pointPartners.push_back(r.points[i].partner);
  for (int32_t i = 0; i < t.faceCount; ++i)
    faceLinks.push_back(t.faces[i].partnerFace);
  for (int32_t i = 0; i < r.faceCount; ++i)
    faceLinks.push_back(r.faces[i].partnerFace);
  for (int32_t p = 0; p < t.partCount; ++p) {
    partLinks.push_back(t.parts[p].coincidentPart);
    partLinks.push_back(t.parts[p].matchedPart);
  }
  Stage scans("plain");
  plainPairCoincidentGeometry(referenceModel, targetModel);
  scans.end();
  size_t k = 0;
  bool same = true;
  for (int32_t i = 0; i < t.pointCount; ++i)
    same = same && pointPartners[k++] == t.points[i].partner;
  for (int32_t i = 0; i < r.pointCount; ++i)
    same = same && pointPartners[k++] == r.points[i].partner;
  k = 0;
  for (int32_t i = 0; i < t.faceCount; ++i)
    same = same && faceLinks[k++] == t.faces[i].partnerFace;
  for (int32_t i = 0; i < r.faceCount; ++i)
    same = same && faceLinks[k++] == r.faces[i].partnerFace;
  k = 0;
  for (int32_t p = 0; p < t.partCount; ++p) {
    same = same && partLinks[k++] == t.parts[p].coincidentPart;
    same = same && partLinks[k++] == t.parts[p].matchedPart;
  }
  emit("plain_same", static_cast<long long>(same ? 1 : 0));
  releaseRunData();
  return 0;
}

int runChild(const std::string& ref, const std::string& tgt, const std::string& truthPath,
             bool detailed) {
  prepare(tgt);
  double start = benchprobe::nowSeconds();
  if (!readPair(ref, tgt)) return fail("read");
  Stage signatures("signatures");
  if (!computeAngleSignatures(targetModel) || !computeAngleSignatures(referenceModel)) {
    return fail("signatures");
  }
  signatures.end();
  Stage pairing("pairing");
  if (!pairCoincidentGeometry(referenceModel, targetModel)) return fail("pairing");
  pairing.end();
  Stage parts("part_matching");
  matchParts(referenceModel, targetModel);
  parts.end();
  Stage faces("face_matching");
  FaceMatchingTimes times{};
  if (detailed ? !matchFacesTimed(referenceModel, targetModel, &times)
               : !matchFaces(referenceModel, targetModel)) {
    return fail("face_matching");
  }
  faces.end();
  if (detailed) {
    emit("tests_s", times.tests);
    emit("profiles_s", times.profiles);
    emit("propagation_s", times.propagation);
  }
  emit("total_s", benchprobe::nowSeconds() - start);
  emitOutcome(benchgen::readTruth(truthPath));
  releaseRunData();
  return 0;
}

int runMatchingChild(const std::string& ref, const std::string& tgt, const std::string& truthPath) {
  prepare(tgt);
  Stage whole("runmatching");
  int result = runMatching(nullptr, ref.c_str(), tgt.c_str());
  if (result != 1) return fail("runmatching");
  whole.end();
  emitOutcome(benchgen::readTruth(truthPath));
  releaseRunData();
  return 0;
}

}  // namespace

int runBenchChild(const std::vector<std::string>& args) {
  if (args.size() == 3 && args[0] == "io") return ioChild(args[1], args[2]);
  if (args.size() == 4 && args[0] == "pairing")
    return pairingChild(args[1], args[2], args[3], false);
  if (args.size() == 4 && args[0] == "plain") return pairingChild(args[1], args[2], args[3], true);
  if (args.size() == 4 && args[0] == "run") return runChild(args[1], args[2], args[3], false);
  if (args.size() == 4 && args[0] == "detail") return runChild(args[1], args[2], args[3], true);
  if (args.size() == 4 && args[0] == "runmatching")
    return runMatchingChild(args[1], args[2], args[3]);
  std::fprintf(stderr, "morvane-bench: unknown child task\n");
  return 2;
}
