#include "model/dxfFaceFeed.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "model/faceModel.h"
#include "model/partGrouping.h"
#include "textfiles/allocator.h"
#include "textfiles/platform.h"

constexpr int32_t kFeedRing = 8;  // batches in flight

struct FaceFeed {
  FaceModel* model;
  PrefaultJob* prefault;
  PartJoins* joins;
  FaceBatch batches[kFeedRing];  // batch n uses batches[n % kFeedRing]
  std::mutex lock;
  std::condition_variable changed;
  int64_t handed = 0;             // batches handed over
  std::atomic<int64_t> added{0};  // batches added (or dropped after a failure)
  bool failed = false;
  bool ending = false;
  std::thread thread;
};

namespace {

// The adding thread: every batch handed over, in order, until the feed ends or adding fails.
void addHandedBatches(FaceFeed* feed) {
  for (;;) {
    const FaceBatch* batch;
    {
      std::unique_lock<std::mutex> hold(feed->lock);
      feed->changed.wait(hold, [&] { return feed->added < feed->handed || feed->ending; });
      if (feed->added == feed->handed) return;  // ending, all added
      batch = &feed->batches[feed->added % kFeedRing];
    }
    const bool ok = addFaceBatch(feed->model, *batch, feed->prefault) &&
                    joinAddedFaces(feed->joins, feed->model);
    std::lock_guard<std::mutex> hold(feed->lock);
    ++feed->added;
    feed->changed.notify_all();
    if (!ok) {
      feed->failed = true;
      return;
    }
  }
}

// Ends the feed's life and gives its block back.
void releaseFeed(FaceFeed* feed) {
  feed->~FaceFeed();
  gfree(feed);
}

// Starts loading the index slots of a face's corners.
void prefetchFace(const FaceModel* model, const PendingFace& face) {
  for (const Vec3& corner : face.corners)
    prefetchPoint(model, corner);
}

}  // namespace

bool addFaceBatch(FaceModel* model, const FaceBatch& batch, PrefaultJob* prefault) noexcept {
  constexpr int32_t kLookahead = 8;
  for (int32_t i = 0; i < kLookahead && i < batch.count; ++i)
    prefetchFace(model, batch.faces[i]);
  for (int32_t i = 0; i < batch.count; ++i) {
    if (i + kLookahead < batch.count) prefetchFace(model, batch.faces[i + kLookahead]);
    const PendingFace& face = batch.faces[i];
    if (!addFaceOnLayer(model, face.layer.text, face.layer.length, face.corners)) return false;
  }
  prefaultFilled(prefault, sizeof(ModelFace) * static_cast<size_t>(model->faceCount));
  return true;
}

FaceFeed* startFaceFeed(FaceModel* model, PrefaultJob* prefault, PartJoins* joins,
                        bool* noMemory) noexcept {
  void* block = gcalloc(sizeof(FaceFeed));  // the batches are most of it
  *noMemory = block == nullptr;
  if (!block) return nullptr;
  auto* feed = new (block) FaceFeed;
  feed->model = model;
  feed->prefault = prefault;
  feed->joins = joins;
  feed->batches[0].count = 0;
  try {
    feed->thread = std::thread(addHandedBatches, feed);
  } catch (...) {  // no thread: the walk adds its faces itself
    releaseFeed(feed);
    return nullptr;
  }
  return feed;
}

FaceBatch* nextFeedBatch(FaceFeed* feed) noexcept {
  std::unique_lock<std::mutex> hold(feed->lock);
  feed->changed.wait(hold, [&] { return feed->failed || feed->handed - feed->added < kFeedRing; });
  if (feed->failed) return nullptr;
  FaceBatch* batch = &feed->batches[feed->handed % kFeedRing];
  batch->count = 0;
  return batch;
}

bool handFeedBatch(FaceFeed* feed) noexcept {
  std::lock_guard<std::mutex> hold(feed->lock);
  if (feed->failed) return false;
  ++feed->handed;
  feed->changed.notify_all();
  return true;
}

int64_t handedFeedBatches(const FaceFeed* feed) noexcept {
  return feed->handed;  // written by the reading thread only
}

int64_t addedFeedBatches(const FaceFeed* feed) noexcept {
  return feed->added.load(std::memory_order_acquire);
}

bool endFaceFeed(FaceFeed* feed) noexcept {
  if (!feed) return true;
  {
    std::lock_guard<std::mutex> hold(feed->lock);
    feed->ending = true;
    feed->changed.notify_all();
  }
  feed->thread.join();
  const bool ok = !feed->failed;
  releaseFeed(feed);
  return ok;
}
