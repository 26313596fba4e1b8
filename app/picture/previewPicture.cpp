#include "app/picture/previewPicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QSaveFile>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <memory>

#include "output/keptResult.h"
#include "output/layerColours.h"
#include "render/faceRenderer.h"
#include "render/renderImage.h"
#include "textfiles/allocator.h"

namespace {

constexpr int kPictureWidth = 1600;
constexpr int kPanelHeight = 640;
constexpr int kGap = 8;
constexpr int kCaptionHeight = 30;
constexpr int kTextSize = 14;  // pixels: readable at 100 %
constexpr int kLegendColumns = 3;
constexpr int kLegendRowsAtMost = 30;
const QColor kInk(32, 32, 32);

struct ReleaseBlock {
  void operator()(void* block) const noexcept { gfree(block); }
};
using OwnedColours = std::unique_ptr<uint32_t, ReleaseBlock>;

// A layer table released when the picture is done.
struct ScopedLayerTable {
  LayerTable table{};
  ~ScopedLayerTable() { releaseLayerTable(&table); }
};

QColor colourOf(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

QFont pictureFont(bool bold = false) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(kTextSize);
  font.setBold(bold);
  return font;
}

// A swatch of `colour`, striped when `hatched`, as the renderer stripes guessed faces.
void drawSwatch(QPainter& painter, QRect box, uint32_t colour, bool hatched) {
  painter.fillRect(box, colourOf(colour));
  if (hatched) {
    painter.setPen(QPen(colourOf((colour >> 2) & 0x3F3F3F), 2));
    painter.setClipRect(box);
    for (int d = -box.height(); d < box.width(); d += 6)
      painter.drawLine(box.left() + d, box.bottom(), box.left() + d + box.height(), box.top());
    painter.setClipping(false);
  }
  painter.setPen(kInk);
  painter.drawRect(box.adjusted(0, 0, -1, -1));
}

// One legend line at row `row` of the grid below `top`.
void drawLegendEntry(QPainter& painter, int top, int row, int column, uint32_t colour, bool hatched,
                     const QString& text) {
  const int columnWidth = (kPictureWidth - 2 * kGap) / kLegendColumns, lineHeight = kTextSize + 8;
  QRect cell(kGap + column * columnWidth, top + row * lineHeight, columnWidth - kGap, lineHeight);
  drawSwatch(painter, QRect(cell.left(), cell.top() + 4, kTextSize, kTextSize), colour, hatched);
  painter.setPen(kInk);
  QRect textBox = cell.adjusted(kTextSize + 6, 0, 0, 0);
  painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(painter.font()).elidedText(text, Qt::ElideMiddle, textBox.width()));
}

QString layerLine(const LayerEntry& entry) {
  return QStringLiteral("%1   reference %2 / output %3")
      .arg(QString::fromUtf8(entry.name))
      .arg(entry.referenceFaces)
      .arg(entry.outputFaces);
}

int countOf(const KeptResult& kept, HowMatched kind, bool guesses) {
  int n = 0;
  for (int32_t f = 0; f < kept.target.faceCount; ++f)
    n += guesses ? keptGuess(kept, f) : keptHow(kept, f) == kind;
  return n;
}

// Legend entries besides the layers: unmatched faces, guessed faces, and faces left out.
int extraLegendEntries(const RenderCounts& left, const RenderCounts& right) {
  return 2 + (left.leftOut + right.leftOut > 0 ? 1 : 0);
}

// Layers drawn in their colour somewhere: on reference faces or on matched output faces. The
// own layers of unmatched faces are drawn red and only counted.
bool drawnInItsColour(const LayerEntry& entry) {
  return entry.referenceFaces > 0 || entry.outputFaces > entry.unmatchedFaces;
}

int drawnLayers(const LayerTable& table) {
  int n = 0;
  for (int32_t e = 0; e < table.count; ++e)
    n += drawnInItsColour(table.entries[e]);
  return n;
}

// Layers the legend names; the rest are counted in one more entry.
int shownLayers(const LayerTable& table, int extra) {
  return std::min(drawnLayers(table), kLegendColumns * kLegendRowsAtMost - extra - 1);
}

// Rows of the legend grid.
int legendRows(const LayerTable& table, const RenderCounts& left, const RenderCounts& right) {
  int extra = extraLegendEntries(left, right), shown = shownLayers(table, extra);
  int entries = shown + (shown < drawnLayers(table) ? 1 : 0) + extra;
  return (entries + kLegendColumns - 1) / kLegendColumns;
}

// The legend: layers in name order, then unmatched and guessed faces and faces left out.
void drawLegend(QPainter& painter, int top, const KeptResult& kept, const LayerTable& table,
                const RenderCounts& left, const RenderCounts& right) {
  int used = 0;
  auto next = [&](uint32_t colour, bool hatched, const QString& text) {
    drawLegendEntry(painter, top, used / kLegendColumns, used % kLegendColumns, colour, hatched,
                    text);
    ++used;
  };
  int shown = shownLayers(table, extraLegendEntries(left, right));
  int drawn = drawnLayers(table), listed = 0;
  for (int32_t e = 0; e < table.count && listed < shown; ++e) {
    if (!drawnInItsColour(table.entries[e])) continue;
    next(table.entries[e].colour, false, layerLine(table.entries[e]));
    ++listed;
  }
  if (shown < drawn)
    next(kRenderBackground, false, QStringLiteral("... and %1 more layers").arg(drawn - shown));
  next(kUnmatchedColour, false,
       QStringLiteral("unmatched, on their own layers   output %1 (%2 layers not listed)")
           .arg(countOf(kept, HowMatched::unmatched, false))
           .arg(table.count - drawn));
  next(0x808080, true,
       QStringLiteral("hatched: layer is a guess   output %1")
           .arg(countOf(kept, HowMatched::aligned, true)));
  if (left.leftOut + right.leftOut > 0) {
    next(
        kRenderBackground, false,
        QStringLiteral("left out (coordinates not finite or beyond 1e12): reference %1 / output %2")
            .arg(left.leftOut)
            .arg(right.leftOut));
  }
}

QString facesLine(const KeptResult& kept) {
  const MatchTally& t = kept.tally;
  QString line = QStringLiteral(
                     "Faces: %1 coincident / %2 aligned / %3 by tests / %4 by "
                     "propagation / %5 unmatched")
                     .arg(t.coincident)
                     .arg(t.aligned)
                     .arg(t.byTests)
                     .arg(t.byPropagation)
                     .arg(t.unmatched);
  if (t.guesses > 0)
    line += QStringLiteral("   %1 faces on symmetric parts: their layer is a guess").arg(t.guesses);
  return line;
}

void drawPanel(QPainter& painter, QRect place, const QString& caption, const QImage& picture) {
  painter.setFont(pictureFont(true));
  painter.setPen(kInk);
  painter.drawText(QRect(place.left(), kGap, place.width(), kCaptionHeight - kGap),
                   Qt::AlignLeft | Qt::AlignVCenter, caption);
  painter.drawImage(place.topLeft(), picture);
  painter.setPen(QColor(160, 160, 160));
  painter.drawRect(place.adjusted(0, 0, -1, -1));
}

}  // namespace

QImage renderModelImage(const RenderMesh* mesh, const uint32_t* colours, const RenderView& view,
                        int step, int width, int height, RenderCounts* counts) {
  RenderCounts drawn{};
  RenderImage image{};
  if (!allocateRenderImage(&image, width, height)) return {};
  const RenderMesh empty{};
  QImage picture;
  if (renderFaces(mesh ? *mesh : empty, colours, view, step, &image, &drawn))
    picture = QImage(image.rgb, width, height, width * 3, QImage::Format_RGB888).copy();
  releaseRenderImage(&image);
  if (counts) *counts = drawn;
  if (!picture.isNull() && (!mesh || mesh->faceCount == 0 || drawn.drawn == 0)) {
    QPainter painter(&picture);
    painter.setFont(pictureFont(true));
    painter.setPen(kInk);
    painter.drawText(
        picture.rect(), Qt::AlignCenter,
        drawn.leftOut ? QStringLiteral("no faces to draw") : QStringLiteral("no faces"));
  }
  return picture;
}

QImage composePreview(const KeptResult& kept, const RenderView& view) {
  ScopedLayerTable scoped;
  LayerTable* table = &scoped.table;
  if (!buildLayerTable(kept, table)) return {};
  OwnedColours left(referenceFaceColours(kept, *table)),
      right(outputFaceColours(kept, *table, false));
  if ((kept.hasReference && !left) || !right) return {};
  const int panelWidth = (kPictureWidth - 3 * kGap) / 2;
  RenderCounts leftCounts{}, rightCounts{};
  QImage leftImage = renderModelImage(kept.hasReference ? &kept.reference : nullptr, left.get(),
                                      view, 1, panelWidth, kPanelHeight, &leftCounts);
  QImage rightImage =
      renderModelImage(&kept.target, right.get(), view, 1, panelWidth, kPanelHeight, &rightCounts);
  if (leftImage.isNull() || rightImage.isNull()) return {};
  const int legendTop = kCaptionHeight + kPanelHeight + kGap + kTextSize + 16;
  const int rows = legendRows(*table, leftCounts, rightCounts);
  QImage picture(kPictureWidth, legendTop + rows * (kTextSize + 8) + kGap, QImage::Format_RGB888);
  if (picture.isNull()) return {};
  picture.fill(Qt::white);
  QPainter painter(&picture);
  drawPanel(painter, QRect(kGap, kCaptionHeight, panelWidth, kPanelHeight),
            QStringLiteral("Reference"), leftImage);
  drawPanel(painter, QRect(2 * kGap + panelWidth, kCaptionHeight, panelWidth, kPanelHeight),
            QStringLiteral("Output: the target under the reference's layers"), rightImage);
  painter.setFont(pictureFont(true));
  painter.setPen(kInk);
  painter.drawText(
      QRect(kGap, kCaptionHeight + kPanelHeight + kGap, kPictureWidth - 2 * kGap, kTextSize + 8),
      Qt::AlignLeft | Qt::AlignVCenter, facesLine(kept));
  painter.setFont(pictureFont());
  drawLegend(painter, legendTop, kept, *table, leftCounts, rightCounts);
  painter.end();
  return picture;
}

bool savePreviewPicture(const char* path, const KeptResult& kept, const RenderView& view,
                        QString* reason) {
  QImage picture = composePreview(kept, view);
  if (picture.isNull()) {
    if (reason) *reason = QStringLiteral("out of memory");
    return false;
  }
  QSaveFile file(QString::fromLocal8Bit(path));
  bool written = file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") && file.commit();
  if (!written && reason) *reason = file.errorString();
  return written;
}

std::unique_ptr<QCoreApplication> startPaintingApplication() {
  if (QCoreApplication::instance()) return nullptr;
  // Qt's notes about the session (no runtime folder, no display) are no concern of a batch run.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
      std::fprintf(stderr, "morvane-match: %s\n", text.toLocal8Bit().constData());
  });
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "morvane-match";
  static char* argv[] = {name, nullptr};
  auto application = std::make_unique<QGuiApplication>(argc, argv);
  std::setlocale(LC_NUMERIC, "C");  // the application object took on the user's locale
  return application;
}
