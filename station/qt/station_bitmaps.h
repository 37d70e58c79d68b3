// The station's own pictures, compiled into the program, and the bitmap files
// that it shows (the card photo, the fingerprint image).
#pragma once

#include <QIcon>
#include <QImage>
#include <filesystem>

namespace fx60::station::ui {

// Bitmap resource 139 (the logo) or 140 (the background); null for another id.
QImage stationBitmap(int resourceId);

// Icon resource 128, at every size it is drawn in.
QIcon stationIcon();

// The largest side, in pixels, of a bitmap file the station shows: far above any
// photo or fingerprint image, far below what could exhaust memory.
inline constexpr int kMaxBitmapSide = 4096;

// Loads a BMP file at its own size. Null when the file is missing or empty, is
// not a BMP, is broken, or is larger than kMaxBitmapSide on a side (such a file
// is not decoded at all).
QImage loadBitmapFile(const std::filesystem::path& file);

}  // namespace fx60::station::ui
