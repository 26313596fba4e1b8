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

// The distinct names while they are collected, as the layer table of a model holding no
// faces; faces come in runs of one layer, so the last name (by address) and its entry are kept.
struct NameSet {
  FaceModel* table;
  const char* lastName;
  int32_t lastEntry;
};

// Entry of `name`, added when new; -1 when memory failed.
int32_t entryOf(NameSet* set, const char* name) {
  if (name == set->lastName) return set->lastEntry;
  const int32_t entry = enterLayerName(set->table, name);
  if (entry >= 0) set->lastName = name, set->lastEntry = entry;
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
  const int32_t count = set.table->layerCount;
  ScopedBlocks blocks;
  int32_t* order = blocks.raw<int32_t>(size_t(count) + 1);
  int32_t* rank = blocks.raw<int32_t>(size_t(count) + 1);
  if (!order || !rank) return false;
  size_t textBytes = 0;
  char** names = set.table->layerNames;
  for (int32_t e = 0; e < count; ++e) {
    order[e] = e;
    textBytes += std::strlen(names[e]) + 1;
  }
  std::sort(order, order + count, [names](int32_t a, int32_t b) {
    return std::strcmp(names[a], names[b]) < 0;  // names are distinct
  });
  size_t arrayBytes = size_t(count) * sizeof(char*);
  auto* block = static_cast<char*>(gmalloc(arrayBytes + textBytes + 1));
  if (!block) return false;
  kept->layerNames = reinterpret_cast<char**>(block);
  char* text = block + arrayBytes;
  for (int32_t r = 0; r < count; ++r) {
    rank[order[r]] = r;
    size_t length = std::strlen(names[order[r]]) + 1;
    std::memcpy(text, names[order[r]], length);
    kept->layerNames[r] = text;
    text += length;
  }
  kept->layerCount = count;
  for (int32_t f = 0; f < kept->reference.faceCount; ++f)
    kept->referenceLayer[f] = rank[kept->referenceLayer[f]];
  for (int32_t f = 0; f < kept->target.faceCount; ++f)
    kept->outputLayer[f] = rank[kept->outputLayer[f]];
  return true;
}

// The layers of both models' faces: the names and each face's entry. A target kept for being
// written back whole gives its faces the layers that write gives them.
bool keepLayers(KeptResult* kept) {
  NameSet set{createModel(nullptr), nullptr, -1};
  bool ok = set.table != nullptr;
  if (ok && referenceModel) {
    kept->referenceLayer = newIndexArray(referenceModel->faceCount);
    ok = kept->referenceLayer &&
         enterFaces(&set, *referenceModel, false, LayerRule::written, kept->referenceLayer);
  }
  const LayerRule rule = targetModel->sourceBytes ? LayerRule::keptTarget : LayerRule::written;
  kept->outputLayer = newIndexArray(targetModel->faceCount);
  ok = ok && kept->outputLayer && enterFaces(&set, *targetModel, true, rule, kept->outputLayer) &&
       storeSortedNames(set, kept);
  releaseModel(set.table);
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
