// icon_png SOURCE SIZE OUTPUT: draws an icon of the resources (an XPM file) as
// a SIZE x SIZE PNG for the desktop's icon theme. A build-time tool only; the
// program itself shows its icons through its toolkit backends.
//
// The icons are 32x32 pixel drawings in the Windows 95 manner; they are
// scaled by whole pixels where they can be, so that they stay crisp, and
// smoothly only below their own size.
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: icon_png SOURCE.xpm SIZE OUTPUT.png\n");
    return 2;
  }
  char* end = nullptr;
  const long size = std::strtol(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0' || size < 1 || size > 1024) {
    std::fprintf(stderr, "icon_png: bad size \"%s\" (1 to 1024)\n", argv[2]);
    return 2;
  }
  QImage source(QString::fromLocal8Bit(argv[1]), "XPM");
  if (source.isNull()) {
    std::fprintf(stderr, "icon_png: %s: not a readable XPM image\n", argv[1]);
    return 1;
  }
  source = source.convertToFormat(QImage::Format_ARGB32);
  const int side = static_cast<int>(size);
  const Qt::TransformationMode mode =
      side % source.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
  const QImage icon = source.scaled(side, side, Qt::KeepAspectRatio, mode);
  if (!icon.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "icon_png: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
