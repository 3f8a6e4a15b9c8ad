// svgicon IN.svg SIZE OUT.png: renders SVG artwork into a square PNG of
// SIZE x SIZE pixels (transparent background, aspect kept, centred). A
// build-time tool: the desktop icons of every size come from one drawing.
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: svgicon IN.svg SIZE OUT.png\n");
    return 2;
  }
  const int size = std::atoi(argv[2]);
  if (size < 1 || size > 4096) {
    std::fprintf(stderr, "svgicon: size must be 1 to 4096\n");
    return 2;
  }
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "svgicon: cannot read %s\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QSizeF drawn = svg.defaultSize();
  if (drawn.isEmpty()) drawn = QSizeF(size, size);
  drawn.scale(size, size, Qt::KeepAspectRatio);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    svg.render(&p, QRectF((size - drawn.width()) / 2, (size - drawn.height()) / 2, drawn.width(), drawn.height()));
  }
  if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "svgicon: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
