#include "match/matchingRun.h"

#include <cstdio>

#include "align/alignParts.h"
#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "match/coincidence.h"
#include "match/faceMatching.h"
#include "match/howMatched.h"
#include "match/partMatching.h"
#include "match/readReport.h"
#include "match/runNotes.h"
#include "model/dxfReader.h"
#include "model/faceModel.h"
#include "model/vectors.h"
#include "textfiles/dialogPort.h"
#include "textfiles/lineList.h"
#include "textfiles/platform.h"
#include "textfiles/runProgress.h"
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
    noteUnreadable(dialog, path);
    referenceModel = readDxfBytes(nullptr, 0, "Ref", nullptr, textureRotation);
  }
  const bool binary = report.binary != 0;
  if (binary) {
    addBinaryLine(dialog, path);
  } else if (!referenceModel) {
    addProgressLine(dialog, "Syntax Error : Reference DXF. continue...");
    noteOutOfMemoryReading(dialog, path);
  } else {
    addReadLines(dialog, path, report);
    if (status == kLoadRead && referenceModel->faceCount == 0) noteNoFaces(dialog, path);
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
    addDetailLine(dialog, "no target file was given");
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
    noteUnreadable(dialog, path);
    return 0;
  }
  if (!targetModel) {
    addProgressLine(dialog, "Syntax Error : Terget DXF");
    noteOutOfMemoryReading(dialog, path);
    return 0;
  }
  if (!whole) return 0;
  if (targetModel->partCount == 0) {
    addProgressLine(dialog, "Empty Data : Terget DXF");
    noteNoFaces(dialog, path);
    return 0;
  }
  return 1;
}

// A line for every part of `model` whose profiles were left out, or made in several passes,
// for want of memory.
void reportPartsTooLarge(DialogPort* dialog, const FaceModel* model) {
  for (int32_t p = 0; p < model->partCount; ++p) {
    const ModelPart& part = model->parts[p];
    const bool tooLarge = (part.flags & kPartTooLarge) != 0;
    if (!tooLarge && !(part.flags & kPartShortOfMemory)) continue;
    char outcome[64];
    if (tooLarge) {
      std::snprintf(outcome, sizeof outcome, "its faces are matched by the face tests only");
    } else {
      std::snprintf(outcome, sizeof outcome, "profiled in %d passes%s", part.profilePasses,
                    (part.flags & kPartProfilesSpilled) ? " through a temporary file" : "");
    }
    long long mib = static_cast<long long>(profileMemoryNeed(part.faceCount) / 1048576.0) + 1;
    addProgressLine(dialog, "%s part %d: %d faces need %lld MiB to profile; not available, %s",
                    model->sourceName ? model->sourceName : "", part.number, part.faceCount, mib,
                    outcome);
  }
}

// Where a run is: the stage it is in, for a line saying what ran out of memory. Reports reach
// the front end's sink through `relay`, which notes each stage on the way.
struct RunStages {
  RunProgress relay;
  RunProgress* sink;  // the front end's; may be null
  const char* stage;
};

void relayReport(RunProgress* self, const char* stage, int32_t part, int32_t parts,
                 double fraction) {
  auto* stages = static_cast<RunStages*>(self->context);
  stages->stage = stage;
  if (stages->sink && stages->sink->report)
    stages->sink->report(stages->sink, stage, part, parts, fraction);
}

int relayCancel(RunProgress* self) {
  auto* stages = static_cast<RunStages*>(self->context);
  return stages->sink && stages->sink->cancelRequested ? stages->sink->cancelRequested(stages->sink)
                                                       : 0;
}

// Enters `stage`, which starts at `from` and ends at `to` of the whole run. Returns false when
// the run is to stop.
bool enterStage(RunStages* stages, const char* stage, double from, double to) {
  ProgressSpan span{&stages->relay, from, to};
  reportProgress(span, stage, 0, 0, 0);
  return !progressCancelled(span);
}

// The matching stages over both models. Returns 1, 0 when a stage ran out of memory, or
// kRunCancelled when the run was asked to stop.
int matchModels(DialogPort* dialog, FaceModel* reference, FaceModel* target,
                const RunOptions& options, RunStages* stages) {
  if (!enterStage(stages, "angle signatures", 0.20, 0.25)) return kRunCancelled;
  if (!computeAngleSignatures(target) || !computeAngleSignatures(reference)) return 0;
  if (!enterStage(stages, "pairing", 0.25, 0.30)) return kRunCancelled;
  if (!pairCoincidentGeometry(reference, target)) return 0;
  if (!enterStage(stages, "part matching", 0.30, 0.35)) return kRunCancelled;
  matchParts(reference, target);
  addProgressLine(dialog, "%d Parts / %d Faces / %d Points", target->partCount, target->faceCount,
                  target->pointCount);
  if (options.alignParts) {
    if (!enterStage(stages, "aligning", 0.35, 0.40)) return kRunCancelled;
    AlignSummary summary{};
    if (!alignParts(reference, target, &summary)) return 0;
    addProgressLine(dialog, "Align: %d of %d parts, %d faces", summary.alignedParts,
                    summary.candidateParts, summary.alignedFaces);
  }
  if (!enterStage(stages, "face tests", 0.40, 1.0)) return kRunCancelled;
  const ProgressSpan span{&stages->relay, 0.40, 1.0};
  int matched = matchFacesWith(reference, target, &span);
  if (matched == kRunCancelled) return matched;
  reportPartsTooLarge(dialog, target);
  reportPartsTooLarge(dialog, reference);
  return matched;
}

// Ends a run that was asked to stop: everything it made is released.
int endCancelledRun(DialogPort* dialog) {
  releaseRunData();
  returnFreedMemory();
  addProgressLine(dialog, "Cancelled");
  return 0;
}

}  // namespace

int runMatching(DialogPort* dialog, const char* referencePath, const char* targetPath) noexcept {
  return runMatchingWith(dialog, referencePath, targetPath, nullptr);
}

int runMatchingWith(DialogPort* dialog, const char* referencePath, const char* targetPath,
                    const RunOptions* options) noexcept {
  const RunOptions chosen = options ? *options : RunOptions{};
  RunStages stages{{}, chosen.progress, "reading"};
  stages.relay = RunProgress{&stages, relayReport, relayCancel};
  releaseRunData();
  addProgressLine(dialog, nullptr);
  addProgressLine(dialog, "Start...");

  // Each file's bytes are released as soon as its model is read: the models keep nothing of them.
  int result = 1;
  if (namesReferenceFile(referencePath)) {
    if (!enterStage(&stages, "reading the reference", 0, 0.10)) return endCancelledRun(dialog);
    result = readReference(dialog, referencePath);
  }
  if (result) {
    if (!enterStage(&stages, "reading the target", 0.10, 0.20)) return endCancelledRun(dialog);
    result = readTarget(dialog, targetPath, chosen);
  }
  if (result && referenceModel) {
    result = matchModels(dialog, referenceModel, targetModel, chosen, &stages);
    if (result == kRunCancelled) return endCancelledRun(dialog);
    if (!result)
      noteOutOfMemory(dialog, stages.stage, referenceModel, targetModel, chosen.alignParts);
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
