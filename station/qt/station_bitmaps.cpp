#include "station/qt/station_bitmaps.h"

#include <QFile>
#include <QImageReader>

namespace fx60::station::ui {

QImage stationBitmap(int resourceId) {
  if (resourceId != 139 && resourceId != 140) return {};
  return QImage(QStringLiteral(":/idvbench/bitmap%1.bmp").arg(resourceId));
}

QIcon stationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/idvbench/icon128-%1.png").arg(size), QSize(size, size));
  return icon;
}

QImage loadBitmapFile(const std::filesystem::path& file) {
  if (file.empty()) return {};
  QImageReader reader(QFile::decodeName(file.c_str()), "bmp");
  reader.setDecideFormatFromContent(false);
  if (!reader.canRead()) return {};  // missing, or not a BMP
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > kMaxBitmapSide || size.height() > kMaxBitmapSide) return {};
  return reader.read();
}

}  // namespace fx60::station::ui
