#pragma once
// Splitting a model into parts (faces connected through shared points) and measuring them.
struct FaceModel;

// Numbers every face and point by its part: parts are numbered from 1 in the order of their
// lowest face index. Sets partCount. Needs at least one face. Returns 1, or 0 when memory for
// its working arrays failed (reported).
int groupParts(FaceModel* model) noexcept;
// Builds `parts` (face lists, centres, radius sums, sizes) and the faces' perimeters,
// centres, normals, scaled centres and partSlot, the points' offsets, and meanSize. Returns 1,
// or 0 when memory failed (then `parts` is null).
int measureParts(FaceModel* model) noexcept;
