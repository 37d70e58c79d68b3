// Opening a display without the risk of the toolkit ending the process: Qt
// aborts when its platform cannot be opened (no X server, a wrong DISPLAY), so
// the platform is asked for with a fallback that always opens, and a program
// that ends up on the fallback knows that no display was there.
#pragma once

#include <QByteArray>

namespace fx60::ui {

// The "-platform" argument for QApplication: the platform the user asked for
// (QT_QPA_PLATFORM, else `preferred`, else the usual one for the session), with
// the fallback behind it.
QByteArray platformArgumentWithFallback(const QByteArray& preferred = {});

// After QApplication was made with that argument: whether a real platform was
// opened, rather than the fallback.
bool displayOpened(const QByteArray& platformArgument);

}  // namespace fx60::ui
