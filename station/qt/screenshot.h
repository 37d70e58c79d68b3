// Pictures of the program's windows for reviews and CI artifacts, also on the
// offscreen platform, where no window manager draws frames or a screen holds the
// windows together.
#pragma once

#include <QImage>
#include <QString>

class QWidget;

namespace fx60::station::ui {

// Every visible window of the program, `main` first and the others above it in
// their places relative to it, each with a plain title bar showing its icon and
// title, on a neutral ground.
QImage screenshotOfWindows(QWidget* main);

// Writes that picture as a PNG file; false (with `error` set) when it cannot.
bool saveScreenshot(QWidget* main, const QString& file, QString& error);

}  // namespace fx60::station::ui
