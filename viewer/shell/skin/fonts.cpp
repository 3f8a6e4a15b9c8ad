#include "viewer/shell/skin/fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QHash>
#include <QStringList>

namespace skin {
namespace {

QFont base_font() {
  QFont f;
  f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  f.setStyleHint(QFont::SansSerif);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

}  // namespace

QFont font(int cell_height, int weight) {
  static QHash<int, QFont> cache;
  const int key = cell_height * 1000 + weight;
  auto it = cache.find(key);
  if (it != cache.end()) return *it;
  QFont f = base_font();
  f.setWeight(static_cast<QFont::Weight>(weight));
  // The largest pixel size whose ascent plus descent fits the cell.
  int size = cell_height;
  for (; size > 4; --size) {
    f.setPixelSize(size);
    if (QFontMetrics(f).ascent() + QFontMetrics(f).descent() <= cell_height) break;
  }
  f.setPixelSize(size);
  cache.insert(key, f);
  return f;
}

QString resolved_family() { return QFontInfo(base_font()).family(); }

}  // namespace skin
