#pragma once
// The face model: one DXF file in memory. Plain records, valid when zero-filled; every array
// comes from the allocator and belongs to the model. Indices are int32 from 0 with -1 for
// none; part numbers count from 1 (part p is element p - 1 of `parts`).
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "model/vectors.h"

struct LineList;

// ModelFace::matchLevel of a target face that took its coincident reference face.
constexpr int32_t kMatchLevelCoincident = 9;

// ModelFace::mark, while influence spreads over a part and while matches propagate.
constexpr int32_t kMarkUnreached = 0;  // not reached yet (propagation: free to be matched)
constexpr int32_t kMarkFront = 1;      // reached, spreads next (propagation: first-pass front)
constexpr int32_t kMarkSpread = 2;     // has spread (propagation: second-pass front)
constexpr int32_t kMarkDone = 3;       // propagation: handled in both passes, or matched before

// Bits of ModelPart::flags.
constexpr int32_t kPartProfilesComputed = 1;  // influence profiles computed
constexpr int32_t kPartProfilesScrambled =
    2;                                // ... in the scrambled order (the spreading overflowed)
constexpr int32_t kPartTooLarge = 8;  // profiles not computed: the memory they need is not there
constexpr int32_t kPartMarked = 4;  // a face of the part may hold a mark other than kMarkUnreached
constexpr int32_t kPartProfilesSpilled = 16;  // ... in passes, the later ones read from a file
constexpr int32_t kPartShortOfMemory = 32;    // ... in passes: the memory for one was not there

struct ModelPoint {
  double x, y, z;           // position as read
  double relX, relY, relZ;  // position minus its part's centre
  int32_t part;             // part number 1..partCount; 0 before grouping
  int32_t faceCount;        // entries in `faces`
  int32_t faceCapacity;     // allocated entries of `faces`; grows by 4
  int32_t* faces;           // owned: faces using this point, ascending, repeated per corner
  int32_t partner;          // coincident point of the other model, -1 none
};

struct ModelFace {
  Vec3 normal;               // snapped unit normal of the first three corners
  int32_t part;              // part number; 0 before grouping
  Vec3 centre;               // mean part-relative corner position
  Vec3 scaledCentre;         // centre over the part's scale divisor
  double perimeter;          // edge lengths summed; halved for three corners
  int32_t cornerCount;       // 3 or 4
  int32_t corners[4];        // point indices in drawing order (after rotation)
  int32_t sortedCorners[4];  // first cornerCount indices ascending
  char* layer;               // the whole layer name, one of the model's layerNames; null reads ""
  int32_t partnerFace;       // coincident face of the other model, -1 none
  int32_t matchedFace;       // target: reference face whose layer it takes, -1 none
  int32_t matchLevel;        // target: direct tests passed; kMatchLevelCoincident
  double influenceSum;       // influence summed over the part before normalising
  double* profile;           // owned: 256 samples of the sorted influence received
  int32_t mark;              // spreading / propagation state: kMark...
  int32_t partSlot;          // position of this face in its part's `faces` list
  int32_t alignedMatch;      // target: 1 matched by part alignment, 2 the same on a symmetric part
                             // (its layer is a guess), 0 not aligned
};

struct ModelPart {
  Vec3 centre;             // mean position of the part's points
  double size;             // perimeters summed over the scale divisor
  int32_t number;          // part number, from 1
  int32_t coincidentPart;  // target: reference part index anchored by coincidence, -1 none
  int32_t matchedPart;     // target: reference part index matched, -1 none
  double sizeDeviation;
  double radiusDeviation;
  double centreDeviation;
  double radiusSum;  // distances of the part's points from `centre`, summed
  int32_t faceCount;
  int32_t* faces;         // owned: face indices, ascending
  int32_t matchCount;     // reference: target parts that claimed it
  int32_t flags;          // kPart... bits
  int32_t profilePasses;  // passes over the seeds its influence profiles took; 0: not made
  int32_t pointCount;
  double normalSum;
  double centreDistance;
  double angleSignature[17];
};

// A slot of FaceModel::pointIndex: a point's index + 1 (0: an empty slot), a tag from the hash
// of its position and the position's exact bits, so that a lookup never reads the points.
struct PointSlot {
  int32_t entry;
  int32_t tag;
  uint64_t x, y, z;
};

// Where a face comes from in its file, kept when the file is to be written back whole.
struct FaceOrigin {
  int64_t entity;       // offset of the group 0 of the entity in the file's top level that
                        // holds it: its 3DFACE, polyface face record (VERTEX), POLYLINE polygon
                        // mesh, MESH, or the INSERT that placed it
  int32_t item;         // MESH: the polygon of its face list (from 0); polygon mesh: the cell
  int32_t insertLayer;  // 1: placed by an INSERT on layer "0", so it took the INSERT's layer
};

struct FaceModel {
  char* sourceName;       // owned copy of "Ref" / "Terget"
  int32_t pointCapacity;  // grows by 512
  int32_t pointCount;
  ModelPoint* points;
  int32_t faceCapacity;  // grows by 256
  int32_t faceCount;
  ModelFace* faces;
  int32_t partCount;
  ModelPart* parts;
  double meanSize;
  // Index for addPoint: an open-addressing table keyed on the exact bit patterns of x, y, z.
  // Owned; rebuilt as it fills.
  PointSlot* pointIndex;
  int32_t pointIndexCapacity;  // slots; a power of two, or 0
  int32_t pointIndexCount;     // points 0 .. pointIndexCount - 1 are entered in pointIndex
  // The distinct layer names of the faces, each stored once: owned texts, in order of first
  // use, and an open-addressing table of name index + 1 (0 = empty slot), at most half full.
  char** layerNames;
  int32_t layerCount;
  int32_t layerCapacity;
  int32_t* layerIndex;
  int32_t layerIndexCapacity;  // slots; a power of two, or 0
  // The faces' angle signatures, kFaceSignatureBins per face in face order (faceCount of them),
  // made by computeAngleSignatures for matching; owned. Null until then: every face reads an
  // all-zero signature (faceSignature).
  double* faceSignatures;
  // Kept only when the file is to be written back whole (readDxfFile with kDxfKeepSource): its
  // bytes (sourceSize of them and a NUL) and, per face, where it comes from. Owned.
  char* sourceBytes;
  int64_t sourceSize;
  FaceOrigin* origins;
  int32_t originCapacity;
};

static_assert(std::is_trivial_v<ModelPoint> && std::is_trivial_v<ModelFace> &&
                  std::is_trivial_v<ModelPart> && std::is_trivial_v<FaceModel>,
              "records live in zero-filled blocks");

// Position of a point as a vector.
inline Vec3 pointPosition(const ModelPoint& p) {
  return {p.x, p.y, p.z};
}
// Part-relative position of a point as a vector.
inline Vec3 relativePosition(const ModelPoint& p) {
  return {p.relX, p.relY, p.relZ};
}
// Corners a face really has; the records always hold 3 or 4, anything else is clamped so that
// no corner array is read past its end.
inline int32_t cornersOf(const ModelFace& f) {
  return f.cornerCount < 0 ? 0 : (f.cornerCount > 4 ? 4 : f.cornerCount);
}
// Bins of a face's angle signature (compare/angleSignature.h names them kSignatureBins).
constexpr int kFaceSignatureBins = 17;
// The angle signature of `face`, which is one of model.faces: its kFaceSignatureBins values in
// faceSignatures, or all zero while the model has none.
inline const double* faceSignature(const FaceModel& model, const ModelFace& face) {
  static const double kNone[kFaceSignatureBins] = {};
  if (!model.faceSignatures) return kNone;
  return model.faceSignatures + static_cast<size_t>(&face - model.faces) * kFaceSignatureBins;
}
// A face's layer name, never null.
inline const char* faceLayer(const ModelFace& f) {
  return f.layer ? f.layer : "";
}

// A new zero-filled model; `name` (may be null) is copied. Null when memory fails.
FaceModel* createModel(const char* name) noexcept;
// Index of the first point with exactly these coordinates (bit for bit: 0.0 and -0.0 differ),
// appending a new point when there is none. -1 when memory fails (nothing is added then).
// Points appended to `points` by other means are found too; coordinates must not be changed
// after a point has been added.
int32_t addPoint(FaceModel* model, double x, double y, double z) noexcept;
// Starts loading the index slot where a point at `position` is looked up, so that the lookups
// of a batch of faces overlap their cache misses. Only a hint.
void prefetchPoint(const FaceModel* model, const Vec3& position) noexcept;
// Sizes the point index for `count` points in all, so that adding that many rebuilds no index
// (the point array still grows as points come). Returns 1, or 0 when memory failed (the model
// is unchanged).
int reservePointIndex(FaceModel* model, int32_t count) noexcept;
// Makes room for `count` faces in all, so that adding them needs no growth. Returns 1, or 0
// when memory failed (the model is unchanged).
int reserveFaces(FaceModel* model, int32_t count) noexcept;
// Adds a face on `layer` (copied whole; null reads as "") with four corner positions. A face
// whose fourth corner is its third point has three corners. Returns 1, or 0 when memory failed
// (the model then holds no half-added face).
int addFace(FaceModel* model, const char* layer, const Vec3 corners[4]) noexcept;
// addFace with the layer name given as the `length` bytes at `layer` (no NUL needed; null
// reads ""). The bytes are only read.
int addFaceOnLayer(FaceModel* model, const char* layer, size_t length,
                   const Vec3 corners[4]) noexcept;
// The index in layerNames of the layer name `text`, -1 when no face has it.
int32_t findLayerName(const FaceModel* model, const char* text) noexcept;
// The index in layerNames of the layer name `text`, which the model copies on its first use;
// -1 when memory failed (reported) or `text` is null.
int32_t enterLayerName(FaceModel* model, const char* text) noexcept;
// Sets face `f`'s mark and flags its part kPartMarked (faces are in range; a face outside every
// part, which grouping never leaves, is only marked).
inline void setFaceMark(FaceModel& model, int32_t f, int32_t mark) {
  ModelFace& face = model.faces[f];
  face.mark = mark;
  if (face.part >= 1 && face.part <= model.partCount)
    model.parts[face.part - 1].flags |= kPartMarked;
}

// Releases everything the model owns, then the model; null does nothing.
void releaseModel(FaceModel* model) noexcept;

// Run state: the latest matching run's models and the target's 999 comments.
extern FaceModel* referenceModel;
extern FaceModel* targetModel;
extern LineList* commentList;
// Releases commentList, referenceModel and targetModel (each when present), sets each to null.
void releaseRunData() noexcept;
