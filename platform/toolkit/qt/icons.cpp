#include "platform/toolkit/qt/icons.h"

#include <map>

#include "platform/resources/resources.h"

namespace toolkit::qt {

namespace {

std::map<UINT, QPixmap>& iconCache() {
  static std::map<UINT, QPixmap> cache;
  return cache;
}

}  // namespace

void clearIconCache() { iconCache().clear(); }

QPixmap iconPixmap(UINT id) {
  std::map<UINT, QPixmap>& cache = iconCache();
  if (auto it = cache.find(id); it != cache.end()) return it->second;
  QPixmap pixmap;
  if (const resources::IconResource* icon = resources::findIcon(id)) {
    const QByteArray format = QByteArray::fromStdString(icon->format).toUpper();
    pixmap.loadFromData(reinterpret_cast<const uchar*>(icon->bytes.data()),
                        static_cast<uint>(icon->bytes.size()), format.constData());
  }
  cache.emplace(id, pixmap);
  return pixmap;
}

QString fromAnsi(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace toolkit::qt
