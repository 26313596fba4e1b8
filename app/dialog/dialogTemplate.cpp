#include "app/dialog/dialogTemplate.h"

#include <QFontMetrics>

namespace {

// Rounds value * multiplier / divisor to the nearest integer, halves away from zero.
int scaleRounded(int value, int multiplier, int divisor) {
  long long product = static_cast<long long>(value) * multiplier;
  long long half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

}  // namespace

int DialogUnits::toPixelsX(int x) const {
  return scaleRounded(x, charWidth, 4);
}

int DialogUnits::toPixelsY(int y) const {
  return scaleRounded(y, charHeight, 8);
}

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
  return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

DialogUnits dialogUnitsOf(const QFont& font) {
  QFontMetrics metrics(font);
  int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  DialogUnits units;
  units.charWidth = (letters / 26 + 1) / 2;
  units.charHeight = metrics.height();
  if (units.charWidth < 1) units.charWidth = 1;
  if (units.charHeight < 1) units.charHeight = 1;
  return units;
}

const ControlTemplate* findControlTemplate(int id) {
  if (id == kStaticId) return nullptr;
  for (const ControlTemplate& control : kDialogControls)
    if (control.id == id) return &control;
  return nullptr;
}
