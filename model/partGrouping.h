#pragma once
// Splitting a model into parts (faces connected through shared points) and measuring them.
#include <cstdint>

struct FaceModel;

// The joining of grouping done while faces are added: per face a lower face of its set (or
// itself), per point the first face met at it + 1 (0: none yet). Valid when zero-filled; the
// arrays are owned (releasePartJoins, or groupJoinedParts).
struct PartJoins {
  int32_t* parents;
  int32_t* firstFace;
  int32_t faceRoom, pointRoom;  // entries of each array
  int32_t joinedFaces;          // faces 0 .. joinedFaces - 1 are joined
};
// Makes room in the joins for `faces` faces and `points` points. Returns 1, or 0 when memory
// failed (reported).
int reservePartJoins(PartJoins* joins, int32_t faces, int32_t points) noexcept;
// Joins the faces added to the model since the last call (their corners as they stand; only
// which points a face uses counts). Returns 1, or 0 when memory failed (reported).
int joinAddedFaces(PartJoins* joins, const FaceModel* model) noexcept;
// groupParts with the faces `joins` holds already joined (the rest joined here); releases the
// joins whatever happens.
int groupJoinedParts(FaceModel* model, PartJoins* joins) noexcept;
// Releases the joins' arrays; the joins are then as new.
void releasePartJoins(PartJoins* joins) noexcept;

// Numbers every face and point by its part: parts are numbered from 1 in the order of their
// lowest face index. Sets partCount. Needs at least one face. Returns 1, or 0 when memory for
// its working arrays failed (reported).
int groupParts(FaceModel* model) noexcept;
// Builds `parts` (face lists, centres, radius sums, sizes) and the faces' perimeters,
// centres, normals, scaled centres and partSlot, the points' offsets, and meanSize. Returns 1,
// or 0 when memory failed (then `parts` is null).
int measureParts(FaceModel* model) noexcept;
