#include "app/dialog/previewPane.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/picture/previewPicture.h"
#include "output/keptResult.h"
#include "textfiles/allocator.h"

namespace {

constexpr int kQuickFaces = 40000;        // faces drawn at most while the view moves
constexpr int kSettleMilliseconds = 150;  // rest after which the whole model is drawn
constexpr double kRadiansPerPixel = 0.01;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kZoomLow = 0.2, kZoomHigh = 50.0;

}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("previewPane"));
  byLayer_ = new QRadioButton(QStringLiteral("By layer"), this);
  byHow_ = new QRadioButton(QStringLiteral("By how matched"), this);
  savePicture_ = new QPushButton(QStringLiteral("Save picture.."), this);
  savePicture_->setAutoDefault(false);
  byLayer_->setChecked(true);
  auto* controls = new QHBoxLayout;
  controls->addWidget(byLayer_);
  controls->addWidget(byHow_);
  controls->addStretch(1);
  controls->addWidget(savePicture_);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->addStretch(1);
  column->addLayout(controls);
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMilliseconds);
  connect(&settle_, &QTimer::timeout, this, [this] { renderFrame(false); });
  connect(byLayer_, &QRadioButton::toggled, this, [this] { renderFrame(false); });
  connect(savePicture_, &QPushButton::clicked, this, &PreviewPane::savePictureRequested);
  namedView("iso", &view_);
  forgetResult();
}

PreviewPane::~PreviewPane() {
  releaseColours();
}

void PreviewPane::releaseColours() {
  gfree(layerColours_);
  gfree(howColours_);
  layerColours_ = howColours_ = nullptr;
  releaseLayerTable(&table_);
}

void PreviewPane::showResult(const KeptResult* kept) {
  releaseColours();
  shown_ = kept && kept->how ? kept : nullptr;
  if (shown_ && buildLayerTable(*shown_, &table_)) {
    layerColours_ = outputFaceColours(*shown_, table_, false);
    howColours_ = outputFaceColours(*shown_, table_, true);
  }
  if (!layerColours_ || !howColours_) {
    releaseColours();
    shown_ = nullptr;
  }
  savePicture_->setEnabled(shown_ != nullptr);
  namedView("iso", &view_);
  renderFrame(false);
}

void PreviewPane::forgetResult() {
  releaseColours();
  shown_ = nullptr;
  savePicture_->setEnabled(false);
  settle_.stop();
  frame_ = QImage();
  update();
}

void PreviewPane::setView(const RenderView& view) {
  view_ = view;
  renderFrame(false);
}

QRect PreviewPane::pictureRect() const {
  int controlsTop = savePicture_->geometry().top();
  return QRect(0, 0, width(), std::max(1, controlsTop - 4));
}

void PreviewPane::renderFrame(bool quick) {
  frame_ = QImage();
  if (!shown_) {
    update();
    return;
  }
  int faces = shown_->target.faceCount;
  lastStep_ = quick ? std::max(1, (faces + kQuickFaces - 1) / kQuickFaces) : 1;
  QRect place = pictureRect();
  const uint32_t* colours = byHow_->isChecked() ? howColours_ : layerColours_;
  frame_ = renderModelImage(&shown_->target, colours, view_, lastStep_, place.width(),
                            place.height(), nullptr);
  update();
}

void PreviewPane::viewMoved() {
  renderFrame(true);
  settle_.start();
}

// The colours of "By how matched", one swatch and word each, along the picture's top.
void PreviewPane::drawHowLegend(QPainter& painter) const {
  QFontMetrics metrics(painter.font());
  int x = 4, side = metrics.height() - 4;
  painter.fillRect(0, 0, width(), metrics.height() + 4, QColor(255, 255, 255, 200));
  for (int32_t kind = 0; kind < kHowMatchedKinds; ++kind) {
    auto how = static_cast<HowMatched>(kind);
    uint32_t rgb = howMatchedColour(how);
    painter.fillRect(x, 4, side, side, QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
    QString word = QString::fromLatin1(howMatchedName(how));
    painter.setPen(Qt::black);
    painter.drawText(x + side + 3, 2 + metrics.ascent(), word);
    x += side + 10 + metrics.horizontalAdvance(word);
  }
}

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect place = pictureRect();
  if (frame_.isNull()) {
    painter.fillRect(place, palette().window());
    painter.drawText(place, Qt::AlignCenter, QStringLiteral("The result shows here after a run"));
  } else {
    painter.drawImage(place.topLeft(), frame_);
    if (byHow_->isChecked()) drawHowLegend(painter);
  }
  painter.setPen(palette().mid().color());
  painter.drawRect(place.adjusted(0, 0, -1, -1));
}

void PreviewPane::resizeEvent(QResizeEvent*) {
  renderFrame(false);
}

void PreviewPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pictureRect().contains(event->position().toPoint()))
    return;
  dragging_ = true;
  dragFrom_ = event->position().toPoint();
}

void PreviewPane::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  QPoint at = event->position().toPoint(), moved = at - dragFrom_;
  dragFrom_ = at;
  view_.turn -= moved.x() * kRadiansPerPixel;
  view_.tilt = std::clamp(view_.tilt + moved.y() * kRadiansPerPixel, -kHalfPi, kHalfPi);
  viewMoved();
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  settle_.stop();
  renderFrame(false);
}

void PreviewPane::wheelEvent(QWheelEvent* event) {
  double notches = event->angleDelta().y() / 120.0;
  if (notches == 0) return;
  double zoom = view_.zoom > 0 ? view_.zoom : 1.0;
  view_.zoom = std::clamp(zoom * std::pow(1.15, notches), kZoomLow, kZoomHigh);
  viewMoved();
  event->accept();
}
