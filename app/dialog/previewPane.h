#pragma once
// The preview pane beside the progress list: the last run's output in 3D, coloured by layer or
// by how each face was matched. Drag to turn, wheel to zoom; while the view moves a subsample
// of a large model is drawn, the whole model once the mouse rests. "Save picture.." asks the
// dialog to write the preview picture of the current view.
#include <QImage>
#include <QTimer>
#include <QWidget>

#include "output/layerColours.h"
#include "render/renderView.h"

class QPainter;
class QPushButton;
class QRadioButton;
struct KeptResult;

// Width of the pane in dialog units, to the right of the template's controls.
constexpr int kPreviewPaneWidth = 230;

class PreviewPane : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewPane(QWidget* parent = nullptr);
  ~PreviewPane() override;

  // Shows a run's kept result (borrowed until forgetResult): the layer table and the face
  // colours are built, the view starts as "iso". Without a result the pane is empty.
  void showResult(const KeptResult* kept);
  // Lets go of the result (before it is released): the pane shows no model.
  void forgetResult();
  // The direction and zoom shown.
  const RenderView& view() const { return view_; }
  void setView(const RenderView& view);
  // Whether a model is shown.
  bool hasModel() const { return shown_ != nullptr; }
  // Faces drawn per face of the model in the last frame: 1 for the whole model.
  int lastStep() const { return lastStep_; }

 signals:
  // "Save picture.." was pressed.
  void savePictureRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void releaseColours();
  // Draws the frame: the whole model, or with `quick` a subsample.
  void renderFrame(bool quick);
  // The view moved: a quick frame now, the whole model when the mouse has rested.
  void viewMoved();
  QRect pictureRect() const;
  void drawHowLegend(QPainter& painter) const;

  QRadioButton* byLayer_ = nullptr;
  QRadioButton* byHow_ = nullptr;
  QPushButton* savePicture_ = nullptr;
  QTimer settle_;
  RenderView view_{};
  LayerTable table_{};
  uint32_t* layerColours_ = nullptr;  // gmalloc'd, one per target face
  uint32_t* howColours_ = nullptr;
  const KeptResult* shown_ = nullptr;
  QImage frame_;
  QPoint dragFrom_;
  bool dragging_ = false;
  int lastStep_ = 1;
};
