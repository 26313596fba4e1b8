// Draws the program icon into PNG files of the usual sizes: a cube whose three visible sides
// are meshes of faces, each side on a layer of its own colour, on a blue tile.
//   morvane_draw_icon <output folder>
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cstdio>

namespace {

// One side of the cube: a parallelogram from `origin` along `u` and `v`, split into a mesh of
// n x n quads when there is room to see it.
void drawSide(QPainter& painter, QPointF origin, QPointF u, QPointF v, QColor fill, int mesh,
              double edgeWidth) {
  QPolygonF side({origin, origin + u, origin + u + v, origin + v});
  QLinearGradient shade(origin, origin + u + v);
  shade.setColorAt(0, fill.lighter(115));
  shade.setColorAt(1, fill.darker(110));
  painter.setPen(Qt::NoPen);
  painter.setBrush(shade);
  painter.drawPolygon(side);
  if (mesh > 1) {
    painter.setPen(QPen(QColor(255, 255, 255, 110), edgeWidth * 0.5));
    for (int i = 1; i < mesh; ++i) {
      double t = static_cast<double>(i) / mesh;
      painter.drawLine(origin + u * t, origin + u * t + v);
      painter.drawLine(origin + v * t, origin + v * t + u);
    }
    // one diagonal per quad: the faces are read as triangles as well as quads
    for (int i = 0; i < mesh; ++i) {
      for (int j = 0; j < mesh; ++j) {
        if ((i + j) % 2 != 0) continue;
        QPointF a =
            origin + u * (static_cast<double>(i) / mesh) + v * (static_cast<double>(j) / mesh);
        painter.drawLine(a, a + u / mesh + v / mesh);
      }
    }
  }
  painter.setPen(
      QPen(QColor(255, 255, 255, 230), edgeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPolygon(side);
}

QImage drawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  double s = size;
  double margin = s * 0.04;
  QRectF tile(margin, margin, s - 2 * margin, s - 2 * margin);
  QLinearGradient blue(tile.topLeft(), tile.bottomRight());
  blue.setColorAt(0, QColor(0x2f, 0x7d, 0xc4));
  blue.setColorAt(1, QColor(0x17, 0x3f, 0x6e));
  QPainterPath rounded;
  rounded.addRoundedRect(tile, s * 0.18, s * 0.18);
  painter.fillPath(rounded, blue);

  // isometric cube centred on the tile
  double r = s * 0.33;                   // from the centre to each corner of the outline
  QPointF centre(s * 0.5, s * 0.5);      // the front corner, the middle of the outline
  QPointF toLeft(-r * 0.866, -r * 0.5);  // from the front corner along the top's left edge
  QPointF toRight(r * 0.866, -r * 0.5);  // along the top's right edge
  QPointF down(0, r);                    // down the front edge
  int mesh = size >= 64 ? 3 : (size >= 32 ? 2 : 1);
  double edge = std::max(1.0, s / 40.0);
  drawSide(painter, centre, toLeft, toRight, QColor(0xf2, 0xb6, 0x3c), mesh, edge);  // top
  drawSide(painter, centre, toLeft, down, QColor(0xd9, 0x53, 0x4f), mesh, edge);     // left
  drawSide(painter, centre, toRight, down, QColor(0x4c, 0xae, 0x5a), mesh, edge);    // right
  painter.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  QDir folder(QString::fromLocal8Bit(argv[1]));
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QString name = folder.filePath(QStringLiteral("morvane-%1.png").arg(size));
    if (!drawIcon(size).save(name)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
      return 1;
    }
  }
  return 0;
}
