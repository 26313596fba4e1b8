#pragma once
// The direction a model is seen from: orthographic, turned about the vertical (z) axis, then
// tilted toward looking down, and a zoom over the fitted size.
#include "model/vectors.h"

struct RenderView {
  double turn;  // radians about +z: 0 looks along +y (x to the right, z up)
  double tilt;  // radians: 0 level, pi/2 looking straight down -z (x right, y up)
  double zoom;  // 1: the model's projected bounds fill the picture; 0 reads as 1
};

// The named views: "iso" (from the -x -y +z corner), "front" (along +y), "top" (down -z),
// "side" (along -x). Returns 1 and sets *view, or 0 for any other name (view unchanged).
int namedView(const char* name, RenderView* view) noexcept;

// The view's unit axes in model coordinates: `right` and `up` span the picture, `forward`
// points away from the eye (nearer points have smaller depth).
struct ViewAxes {
  Vec3 right;
  Vec3 up;
  Vec3 forward;
};
ViewAxes viewAxes(const RenderView& view) noexcept;
