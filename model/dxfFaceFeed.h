#pragma once
// Faces handed from the DXF reader's walk to the thread that adds them to the model: the walk
// fills batches, a second thread adds them in order (finding their points in the index and
// storing their layer names), so that reading the text and building the model overlap.
#include <cstdint>

#include "model/dxfText.h"
#include "model/vectors.h"

struct FaceModel;
struct PartJoins;
struct PrefaultJob;

constexpr int32_t kFeedBatch = 256;  // faces per batch

// A face read and not yet added: its layer text (in the file's bytes, which the adding thread
// only reads; text null reads "") and its placed corners.
struct PendingFace {
  DxfLine layer;
  Vec3 corners[4];
};
struct FaceBatch {
  int32_t count;
  PendingFace faces[kFeedBatch];
};

// Adds the batch's faces to the model in order, the index slots of the next faces' corners
// loading meanwhile, then tells `prefault` (may be null) how much of the face array is
// filled. False when memory failed (reported).
bool addFaceBatch(FaceModel* model, const FaceBatch& batch, PrefaultJob* prefault) noexcept;

struct FaceFeed;
// Starts the adding thread for `model`, which also joins the faces it adds into `joins` (the
// joining of grouping; the caller's, not touched by the caller until endFaceFeed). Null when it
// is not started: `*noMemory` then tells whether memory for its batches failed (reported; the
// read cannot go on), else no thread was to be had and the caller adds its batches itself with
// addFaceBatch.
FaceFeed* startFaceFeed(FaceModel* model, PrefaultJob* prefault, PartJoins* joins,
                        bool* noMemory) noexcept;
// The next batch to fill (empty), once the adding thread has left it; null once adding failed.
FaceBatch* nextFeedBatch(FaceFeed* feed) noexcept;
// Hands the batch nextFeedBatch gave over to the adding thread. False once adding failed.
bool handFeedBatch(FaceFeed* feed) noexcept;
// Batches handed over so far, and added so far (every face of those is added: the adding
// thread no longer reads their layer texts). Neither waits.
int64_t handedFeedBatches(const FaceFeed* feed) noexcept;
int64_t addedFeedBatches(const FaceFeed* feed) noexcept;
// Waits for the batches handed over, ends the thread and releases the feed. False when adding
// failed. Null does nothing (true).
bool endFaceFeed(FaceFeed* feed) noexcept;
