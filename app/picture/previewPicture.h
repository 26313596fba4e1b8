#pragma once
// The preview picture of a run, drawn with QPainter over the core's renderer: the reference on
// the left, the output on the right, both seen along one view, with a legend of the layers and
// the run's "Faces:" line. The batch tool (--preview) and the dialog ("Save picture..") write
// the same picture.
#include <QCoreApplication>
#include <QImage>
#include <QString>
#include <memory>

#include "render/renderView.h"

struct KeptResult;
struct RenderCounts;
struct RenderMesh;

// The RGB pixels of a rendered mesh as a QImage of `width` x `height`, seen along `view` with
// `colours` (renderFaces' face colours; null draws grey). `step` > 1 draws every step-th face.
// A null mesh or a mesh without faces gives the picture "no faces". Fills *counts when given. A
// null image when memory failed.
QImage renderModelImage(const RenderMesh* mesh, const uint32_t* colours, const RenderView& view,
                        int step, int width, int height, RenderCounts* counts);

// The whole picture of a kept run result along `view`, 1600 pixels wide: captions, both models,
// the "Faces:" line, the legend (layer, colour, faces in each model; unmatched and guessed
// faces; faces left out for coordinates not finite or beyond 10^12). A null image when memory
// failed.
QImage composePreview(const KeptResult& kept, const RenderView& view);

// composePreview written as a PNG file under `path`, whole or not at all (a temporary file in
// the same folder renamed over it). True when written; else *reason (when given) says why.
bool savePreviewPicture(const char* path, const KeptResult& kept, const RenderView& view,
                        QString* reason);

// For a program without an application object (the batch tool): a new QGuiApplication for
// painting text, on the offscreen platform unless QT_QPA_PLATFORM names one, so no display is
// needed; the caller keeps it while pictures are drawn. The numbers of the C library stay in the
// C locale. Null when an application object exists already.
std::unique_ptr<QCoreApplication> startPaintingApplication();
