#include "output/keptResult.h"

#include <algorithm>
#include <cstring>

#include "model/faceModel.h"
#include "output/outputLayer.h"
#include "textfiles/allocator.h"
#include "textfiles/lineList.h"
#include "textfiles/platform.h"
#include "textfiles/scopedBlocks.h"
#include "textfiles/settings.h"

namespace {

uint64_t nameHash(const char* name) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
    hash = (hash ^ *c) * 1099511628211ull;
  return hash;
}

// The distinct names while they are collected: borrowed from the models, in order of first
// use, with an open-addressing index (entry + 1, 0 empty; at most half full).
struct NameSet {
  const char** names;
  int32_t count;
  int32_t capacity;
  int32_t* slots;
  uint64_t slotCount;    // a power of two
  const char* lastName;  // faces come in runs of one layer: the last name and its entry
  int32_t lastEntry;
};

void releaseNameSet(NameSet* set) {
  gfree(set->names);
  gfree(set->slots);
  *set = NameSet{};
}

bool growSlots(NameSet* set) {
  uint64_t slotCount = set->slotCount ? set->slotCount * 2 : 64;
  auto* slots = static_cast<int32_t*>(gcalloc(slotCount * sizeof(int32_t)));
  if (!slots) return false;
  for (int32_t e = 0; e < set->count; ++e) {
    uint64_t at = nameHash(set->names[e]) & (slotCount - 1);
    while (slots[at])
      at = (at + 1) & (slotCount - 1);
    slots[at] = e + 1;
  }
  gfree(set->slots);
  set->slots = slots;
  set->slotCount = slotCount;
  return true;
}

// Entry of `name`, added when new; -1 when memory failed.
int32_t entryOf(NameSet* set, const char* name) {
  if (name == set->lastName) return set->lastEntry;
  if (uint64_t(set->count) * 2 >= set->slotCount && !growSlots(set)) return -1;
  uint64_t at = nameHash(name) & (set->slotCount - 1);
  int32_t entry = -1;
  for (; set->slots[at]; at = (at + 1) & (set->slotCount - 1)) {
    if (std::strcmp(set->names[set->slots[at] - 1], name) == 0) {
      entry = set->slots[at] - 1;
      break;
    }
  }
  if (entry < 0) {
    if (set->count == set->capacity) {
      int32_t capacity = set->capacity ? set->capacity * 2 : 32;
      void* grown = gcrealloc(set->names, size_t(capacity) * sizeof(char*));
      if (!grown) return -1;
      set->names = static_cast<const char**>(grown);
      set->capacity = capacity;
    }
    set->names[set->count] = name;
    set->slots[at] = set->count + 1;
    entry = set->count++;
  }
  set->lastName = name, set->lastEntry = entry;
  return entry;
}

// Enters the layer of every face of `model` into `layerOf`: its own, or with `written` the
// layer it is written under by `rule`.
bool enterFaces(NameSet* set, const FaceModel& model, bool written, LayerRule rule,
                int32_t* layerOf) {
  for (int32_t f = 0; f < model.faceCount; ++f) {
    const ModelFace& face = model.faces[f];
    layerOf[f] = entryOf(set, written ? layerByRule(rule, face) : faceLayer(face));
    if (layerOf[f] < 0) return false;
  }
  return true;
}

int32_t* newIndexArray(int32_t count) {
  return static_cast<int32_t*>(gmalloc(size_t(count + 1) * sizeof(int32_t)));
}

// Copies the set's names in byte order into one block (the array, then the texts) and
// renumbers the faces' entries to that order.
bool storeSortedNames(const NameSet& set, KeptResult* kept) {
  ScopedBlocks blocks;
  int32_t* order = blocks.raw<int32_t>(size_t(set.count) + 1);
  int32_t* rank = blocks.raw<int32_t>(size_t(set.count) + 1);
  if (!order || !rank) return false;
  size_t textBytes = 0;
  for (int32_t e = 0; e < set.count; ++e) {
    order[e] = e;
    textBytes += std::strlen(set.names[e]) + 1;
  }
  const char** names = set.names;
  std::sort(order, order + set.count, [names](int32_t a, int32_t b) {
    return std::strcmp(names[a], names[b]) < 0;  // names are distinct
  });
  size_t arrayBytes = size_t(set.count) * sizeof(char*);
  auto* block = static_cast<char*>(gmalloc(arrayBytes + textBytes + 1));
  if (!block) return false;
  kept->layerNames = reinterpret_cast<char**>(block);
  char* text = block + arrayBytes;
  for (int32_t r = 0; r < set.count; ++r) {
    rank[order[r]] = r;
    size_t length = std::strlen(names[order[r]]) + 1;
    std::memcpy(text, names[order[r]], length);
    kept->layerNames[r] = text;
    text += length;
  }
  kept->layerCount = set.count;
  for (int32_t f = 0; f < kept->reference.faceCount; ++f)
    kept->referenceLayer[f] = rank[kept->referenceLayer[f]];
  for (int32_t f = 0; f < kept->target.faceCount; ++f)
    kept->outputLayer[f] = rank[kept->outputLayer[f]];
  return true;
}

// The layers of both models' faces: the names and each face's entry. A target kept for being
// written back whole gives its faces the layers that write gives them.
bool keepLayers(KeptResult* kept) {
  NameSet set{};
  bool ok = true;
  if (referenceModel) {
    kept->referenceLayer = newIndexArray(referenceModel->faceCount);
    ok = kept->referenceLayer &&
         enterFaces(&set, *referenceModel, false, LayerRule::written, kept->referenceLayer);
  }
  const LayerRule rule = targetModel->sourceBytes ? LayerRule::keptTarget : LayerRule::written;
  kept->outputLayer = newIndexArray(targetModel->faceCount);
  ok = ok && kept->outputLayer && enterFaces(&set, *targetModel, true, rule, kept->outputLayer) &&
       storeSortedNames(set, kept);
  releaseNameSet(&set);
  return ok;
}

bool keepHow(KeptResult* kept) {
  const FaceModel& target = *targetModel;
  kept->how = static_cast<uint8_t*>(gmalloc(size_t(target.faceCount) + 1));
  if (!kept->how) return false;
  for (int32_t f = 0; f < target.faceCount; ++f) {
    auto how = static_cast<uint8_t>(howMatched(referenceModel, target, f));
    kept->how[f] = how | (isGuessedLayer(referenceModel, target, f) ? kKeptGuess : 0);
  }
  kept->tally = tallyMatches(referenceModel, targetModel);
  return true;
}

// What writing the target back whole reads of the reference: its layer names, in the same
// order, one face on each, and per target face the face of the layer it takes (-1 none; a
// matched face on no layer gives none, as the kept file's rule says).
bool keepLayersForTarget(KeptResult* kept) {
  const FaceModel* reference = referenceModel;
  const FaceModel& target = *targetModel;
  kept->keptMatch = newIndexArray(target.faceCount);
  if (!kept->keptMatch) return false;
  if (reference) kept->layers = createModel(reference->sourceName);
  const Vec3 origin[4] = {};
  for (int32_t i = 0; reference && i < reference->layerCount; ++i) {
    if (!kept->layers || !addFace(kept->layers, reference->layerNames[i], origin)) return false;
  }
  for (int32_t f = 0; f < target.faceCount; ++f) {
    const int32_t matched = target.faces[f].matchedFace;
    const bool found = reference && matched >= 0 && matched < reference->faceCount;
    const char* layer = found ? faceLayer(reference->faces[matched]) : "";
    kept->keptMatch[f] = *layer ? findLayerName(reference, layer) : -1;
  }
  return true;
}

}  // namespace

int keepRunResult(KeptResult* kept) noexcept {
  if (!kept) return 0;
  releaseKeptResult(kept);
  if (!targetModel) return 0;
  kept->hasReference = referenceModel ? 1 : 0;
  kept->rotation = textureRotation;
  bool done = (!referenceModel || meshOfModel(*referenceModel, &kept->reference)) &&
              meshOfModel(*targetModel, &kept->target) && keepLayers(kept) && keepHow(kept);
  if (!done) {
    releaseKeptResult(kept);
    return 0;
  }
  kept->comments = commentList;
  commentList = nullptr;
  return 1;
}

void releaseKeptResult(KeptResult* kept) noexcept {
  if (!kept) return;
  releaseRenderMesh(&kept->reference);
  releaseRenderMesh(&kept->target);
  gfree(kept->layerNames);
  gfree(kept->referenceLayer);
  gfree(kept->outputLayer);
  gfree(kept->how);
  freeLineList(kept->comments);
  releaseModel(kept->layers);
  gfree(kept->keptMatch);
  *kept = KeptResult{};
}

int keepResultAndReleaseRun(KeptResult* kept) noexcept {
  int done = keepRunResult(kept);
  if (done && targetModel->sourceBytes && !keepLayersForTarget(kept)) {
    releaseKeptResult(kept);
    done = 0;
  }
  releaseRunData();
  returnFreedMemory();
  return done;
}
