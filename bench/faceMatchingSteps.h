#pragma once
// Face matching with a clock on each of its three kinds of work: the direct face tests, the
// influence profiles and the propagation. The same steps in the same order as matchFaces, so
// its results are the same; the benchmark checks that and reports where the time goes.
struct FaceModel;

struct FaceMatchingTimes {
  double tests;        // seconds in the direct tests (coincident faces included)
  double profiles;     // seconds in computePartProfiles
  double propagation;  // seconds in propagateMatches
  int propagatedParts;
};

// As matchFaces: 1, or 0 when memory failed.
int matchFacesTimed(FaceModel* reference, FaceModel* target, FaceMatchingTimes* times);
