#pragma once
// Coincidence pairing written as the plain scans that define it: every target point scans the
// reference points in index order, every target face scans the reference faces in index order.
// Quadratic; kept beside the benchmarks as the yardstick for pairCoincidentGeometry, whose
// results must be the same and whose time is compared with these scans.
struct FaceModel;

// Sets partner, partnerFace, coincidentPart and matchedPart exactly as pairCoincidentGeometry.
void plainPairCoincidentGeometry(FaceModel* reference, FaceModel* target);
