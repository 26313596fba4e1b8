#include "match/matchingRun.h"

#include "align/alignParts.h"
#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "match/coincidence.h"
#include "match/faceMatching.h"
#include "match/howMatched.h"
#include "match/partMatching.h"
#include "match/readReport.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "model/vectors.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"

namespace {

// ASCII letters compared without regard to case, independent of the locale.
char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (lowerAscii(*a) != lowerAscii(*b)) return false;
  }
  return *a == *b;
}

// A reference path names a file unless it is empty, "NULL" or "No Use" (whole, any case).
bool namesReferenceFile(const char* path) {
  return path && *path && !equalIgnoringCase(path, "NULL") && !equalIgnoringCase(path, "No Use");
}

// Loads and reads the reference file into referenceModel. A file that cannot be opened is
// reported and read as an empty file; memory that runs out leaves no reference model. Returns 0
// when the run must stop (a binary DXF).
int readReference(DialogPort* dialog, const char* path) {
  int status = kLoadNotOpened;
  DxfReadReport report{};
  referenceModel = readDxfFile(path, "Ref", nullptr, textureRotation, &status, &report);
  if (status == kLoadNotOpened) {
    addProgressLine(dialog, "Read Error : Reference DXF. continue...");
    referenceModel = readDxfBytes(nullptr, 0, "Ref", nullptr, textureRotation);
  }
  const bool binary = report.binary != 0;
  if (binary) {
    addBinaryLine(dialog, path);
  } else if (!referenceModel) {
    addProgressLine(dialog, "Syntax Error : Reference DXF. continue...");
  } else {
    addReadLines(dialog, path, report);
  }
  freeLineList(report.notes);
  return binary ? 0 : 1;
}

// Whether the target's read leaves it whole: faces it could not read stop the run unless the
// rest of the target file is written back as it is.
bool targetReadWhole(DialogPort* dialog, const char* path, const DxfReadReport& report,
                     const RunOptions& options) {
  if (report.binary) {
    addBinaryLine(dialog, path);
    addProgressLine(dialog, "Read Error : Terget DXF");
    return false;
  }
  addReadLines(dialog, path, report);
  if (report.lostFaces == 0 || options.keepTarget) return true;
  addProgressLine(dialog, "%s would lose faces: not written (--keep-target keeps them)", path);
  return false;
}

// Loads and reads the target file into targetModel and commentList. Returns 1 when the model
// has at least one part, 0 after the failure line.
int readTarget(DialogPort* dialog, const char* path, const RunOptions& options) {
  if (!path || !*path) {
    addProgressLine(dialog, "Read Error : Terget DXF");
    return 0;
  }
  commentList = newLineList();
  int status = kLoadNoMemory;
  DxfReadReport report{};
  if (commentList) {
    const int flags = options.keepTarget ? kDxfKeepSource : 0;
    targetModel =
        readDxfFile(path, "Terget", commentList, textureRotation, &status, &report, flags);
  }
  if (status != kLoadRead) {  // nothing was read: no comment list, as before a read
    freeLineList(commentList);
    commentList = nullptr;
  }
  const bool whole =
      status != kLoadRead || !targetModel || targetReadWhole(dialog, path, report, options);
  freeLineList(report.notes);
  if (status == kLoadNotOpened) {
    addProgressLine(dialog, "Read Error : Terget DXF");
    return 0;
  }
  if (!targetModel) {
    addProgressLine(dialog, "Syntax Error : Terget DXF");
    return 0;
  }
  if (!whole) return 0;
  if (targetModel->partCount == 0) {
    addProgressLine(dialog, "Empty Data : Terget DXF");
    return 0;
  }
  return 1;
}

// A line for every part of `model` whose profiles were left out for want of memory.
void reportPartsTooLarge(DialogPort* dialog, const FaceModel* model) {
  for (int32_t p = 0; p < model->partCount; ++p) {
    const ModelPart& part = model->parts[p];
    if (!(part.flags & kPartTooLarge)) continue;
    long long mib = static_cast<long long>(profileMemoryNeed(part.faceCount) / 1048576.0) + 1;
    addProgressLine(dialog,
                    "%s part %d: %d faces need %lld MiB to profile; not available, "
                    "its faces are matched by the face tests only",
                    model->sourceName ? model->sourceName : "", part.number, part.faceCount, mib);
  }
}

// The matching stages over both models. Returns 1, or 0 when a stage ran out of memory.
int matchModels(DialogPort* dialog, FaceModel* reference, FaceModel* target,
                const RunOptions& options) {
  if (!computeAngleSignatures(target) || !computeAngleSignatures(reference)) return 0;
  if (!pairCoincidentGeometry(reference, target)) return 0;
  matchParts(reference, target);
  addProgressLine(dialog, "%d Parts / %d Faces / %d Points", target->partCount, target->faceCount,
                  target->pointCount);
  if (options.alignParts) {
    AlignSummary summary{};
    if (!alignParts(reference, target, &summary)) return 0;
    addProgressLine(dialog, "Align: %d of %d parts, %d faces", summary.alignedParts,
                    summary.candidateParts, summary.alignedFaces);
  }
  int matched = matchFaces(reference, target);
  reportPartsTooLarge(dialog, target);
  reportPartsTooLarge(dialog, reference);
  return matched;
}

}  // namespace

int runMatching(DialogPort* dialog, const char* referencePath, const char* targetPath) noexcept {
  return runMatchingWith(dialog, referencePath, targetPath, nullptr);
}

int runMatchingWith(DialogPort* dialog, const char* referencePath, const char* targetPath,
                    const RunOptions* options) noexcept {
  const RunOptions chosen = options ? *options : RunOptions{};
  releaseRunData();
  addProgressLine(dialog, nullptr);
  addProgressLine(dialog, "Start...");

  // Each file's bytes are released as soon as its model is read: the models keep nothing of them.
  int result = namesReferenceFile(referencePath) ? readReference(dialog, referencePath) : 1;
  if (result) result = readTarget(dialog, targetPath, chosen);
  if (result && referenceModel) {
    result = matchModels(dialog, referenceModel, targetModel, chosen);
  }
  if (result) {
    addProgressLine(dialog, "Done.");
  } else {
    addProgressLine(dialog, "Error Quit");
  }
  return result;
}

MatchTally tallyMatches(const FaceModel* reference, const FaceModel* target) noexcept {
  MatchTally tally{};
  if (!target) return tally;
  for (int32_t i = 0; i < target->faceCount; ++i) {
    switch (howMatched(reference, *target, i)) {
      case HowMatched::unmatched:
        ++tally.unmatched;
        break;
      case HowMatched::coincident:
        ++tally.coincident;
        break;
      case HowMatched::aligned:
        ++tally.aligned;
        tally.guesses += target->faces[i].alignedMatch == kGuessedFace;
        break;
      case HowMatched::tests:
        ++tally.byTests;
        break;
      case HowMatched::propagation:
        ++tally.byPropagation;
        break;
    }
  }
  return tally;
}
