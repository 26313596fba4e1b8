#include "match/matchingRun.h"

#include "align/alignParts.h"
#include "compare/angleSignature.h"
#include "compare/influenceProfile.h"
#include "match/coincidence.h"
#include "match/faceMatching.h"
#include "match/faceTests.h"
#include "match/partMatching.h"
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
// reported and read as an empty file; memory that runs out leaves no reference model.
void readReference(DialogPort* dialog, const char* path) {
  int status = kLoadNotOpened;
  OwnedLineList lines(loadLineListAs(path, LineSplit::keepEmpty, &status));
  if (status == kLoadNotOpened) {
    addProgressLine(dialog, "Read Error : Reference DXF. continue...");
    if (!lines) lines.reset(newLineList());
  } else if (status != kLoadRead) {
    lines.reset();
  }
  if (lines) referenceModel = readDxfFaces(lines.get(), "Ref", nullptr, textureRotation);
  if (!referenceModel) addProgressLine(dialog, "Syntax Error : Reference DXF. continue...");
}

// Loads and reads the target file into targetModel and commentList. Returns 1 when the model
// has at least one part, 0 after the failure line.
int readTarget(DialogPort* dialog, const char* path) {
  if (!path || !*path) {
    addProgressLine(dialog, "Read Error : Terget DXF");
    return 0;
  }
  int status = kLoadNotOpened;
  OwnedLineList lines(loadLineListAs(path, LineSplit::keepEmpty, &status));
  if (status == kLoadNotOpened) {
    addProgressLine(dialog, "Read Error : Terget DXF");
    return 0;
  }
  if (status == kLoadRead && lines) {
    commentList = newLineList();
    if (commentList) {
      targetModel = readDxfFaces(lines.get(), "Terget", commentList, textureRotation);
    }
  }
  if (!targetModel) {
    addProgressLine(dialog, "Syntax Error : Terget DXF");
    return 0;
  }
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

  // Each file's lines are released as soon as its model is read: the models keep nothing of them.
  if (namesReferenceFile(referencePath)) {
    if (!enterStage(&stages, "reading the reference", 0, 0.10)) return endCancelledRun(dialog);
    readReference(dialog, referencePath);
    noteReferenceRead(dialog, referencePath);
  }
  if (!enterStage(&stages, "reading the target", 0.10, 0.20)) return endCancelledRun(dialog);
  int result = readTarget(dialog, targetPath);
  if (!result) noteTargetRead(dialog, targetPath);
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
    const ModelFace& face = target->faces[i];
    int32_t matched = face.matchedFace;
    if (!reference || matched < 0 || matched >= reference->faceCount) {
      ++tally.unmatched;
      continue;
    }
    if (face.partnerFace >= 0) {
      ++tally.coincident;  // face matching takes the partner face before any test
      continue;
    }
    if (face.alignedMatch) {
      ++tally.aligned;
      if (face.alignedMatch == kGuessedFace) ++tally.guesses;
      continue;
    }
    const ModelFace& candidate = reference->faces[matched];
    int32_t partIndex = face.part - 1;
    bool inMatchedPart = partIndex >= 0 && partIndex < target->partCount &&
                         candidate.part == target->parts[partIndex].matchedPart + 1;
    if (inMatchedPart && faceTestsPassed(face, candidate) == kFaceTests) {
      ++tally.byTests;
    } else {
      ++tally.byPropagation;
    }
  }
  return tally;
}
