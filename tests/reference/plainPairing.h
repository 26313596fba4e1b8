#pragma once
// Coincidence pairing written as the plain scans that define it: every target point scans the
// reference points in index order, every target face the reference faces in index order.
// Quadratic; the yardstick for pairCoincidentGeometry in the tests and the benchmarks.
struct FaceModel;

// Sets partner, partnerFace, coincidentPart and matchedPart as pairCoincidentGeometry must.
void plainPairCoincidentGeometry(FaceModel* reference, FaceModel* target);
