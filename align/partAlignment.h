#pragma once
// Aligning one target part onto one reference part of the same shape: candidate transforms from
// matching anchor points, checked on a sample of points, refined by least squares over every
// point and verified point by point.
#include <cstdint>

#include "align/similarity.h"

struct FaceModel;
struct PointTree;
struct ShapeSet;

struct PartAlignment {
  int32_t referencePart;  // part index in the reference model
  Similarity motion;      // target positions -> reference positions
  double residual;        // mean squared distance of the sample points from their landing
};

// Scratch shared by the alignments of one run. Valid when zero-filled; the arrays are owned.
struct AlignScratch {
  int32_t* pointMap;  // per target point: its reference point after mapPartPoints, or -1
  int32_t* stamps;    // per reference point: the stamp of the mapping that took it
  int32_t stamp;      // the current mapping's stamp
  int64_t workLeft;   // nearest-neighbour queries the run may still spend on searches
  // For telling alignments apart by the layers they give: both models and an index of the
  // reference face centres (every face, face index order).
  const FaceModel* referenceModel;
  const FaceModel* targetModel;
  const PointTree* faceCentres;
};

// Closest distance at which an aligned target point still counts as landing on a reference
// point, in reference units: a small share of the part's size plus the rounding of both files.
double alignmentTolerance(const ShapeSet& target, int32_t t, const ShapeSet& reference,
                          int32_t r) noexcept;
// True when the parts' counts and scale-free measures allow an alignment.
bool shapesAgree(const ShapeSet& target, int32_t t, const ShapeSet& reference, int32_t r) noexcept;

// Up to `capacity` alignments of target part t onto reference part r that differ in the layers
// they give a sample of its faces (of each kind the one that fits the sample best), each checked
// on a sample of points and fitted to it (not yet refined over every point). Prepares both parts'
// features. Returns how many were written to `out`, or -1 when memory failed.
int32_t findPartAlignments(ShapeSet* target, int32_t t, ShapeSet* reference, int32_t r,
                           AlignScratch* scratch, PartAlignment* out, int32_t capacity) noexcept;
// True when the sample points of target part t land within `slack` tolerances of points of
// reference part r under `motion` (the reference part's features must be prepared).
bool sampleLands(const ShapeSet& target, int32_t t, const ShapeSet& reference, int32_t r,
                 const Similarity& motion, int32_t sampleCount, double slack) noexcept;
// Refines `alignment` by least squares over every point and verifies it: each point is first
// paired with the nearest reference point (within `firstLimit`, or a few tolerances when it is
// not positive), the fit over those pairs must then put every point of target part t within
// tolerance on a reference point of its own, recorded in scratch->pointMap. Returns 1 when it
// does, 0 when it does not, -1 when memory failed.
int refineAlignment(ShapeSet* target, int32_t t, ShapeSet* reference, AlignScratch* scratch,
                    double firstLimit, PartAlignment* alignment) noexcept;
