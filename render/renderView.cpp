#include "render/renderView.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.141592653589793;
// The isometric tilt: the angle whose tangent is 1/sqrt(2), so the three axes look alike.
constexpr double kIsoTilt = 0.6154797086703874;

struct NamedView {
  const char* name;
  RenderView view;
};

constexpr NamedView kNamedViews[] = {
    {"iso", {-kPi / 4, kIsoTilt, 1.0}},
    {"front", {0.0, 0.0, 1.0}},
    {"top", {0.0, kPi / 2, 1.0}},
    {"side", {kPi / 2, 0.0, 1.0}},
};

}  // namespace

int namedView(const char* name, RenderView* view) noexcept {
  if (!name || !view) return 0;
  for (const NamedView& entry : kNamedViews) {
    if (std::strcmp(entry.name, name) == 0) {
      *view = entry.view;
      return 1;
    }
  }
  return 0;
}

ViewAxes viewAxes(const RenderView& view) noexcept {
  double ct = std::cos(view.turn), st = std::sin(view.turn);
  double cl = std::cos(view.tilt), sl = std::sin(view.tilt);
  ViewAxes axes{};
  axes.right = {ct, st, 0.0};
  axes.forward = {-st * cl, ct * cl, -sl};
  axes.up = cross(axes.right, axes.forward);
  return axes;
}
