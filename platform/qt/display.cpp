#include "platform/qt/display.h"

#include <QGuiApplication>
#include <QString>

namespace fx60::ui {

namespace {

// A platform that needs no display and that nobody uses by accident.
constexpr const char* kFallbackPlatform = "minimal";

}  // namespace

QByteArray platformArgumentWithFallback(const QByteArray& preferred) {
  QByteArray wanted = qgetenv("QT_QPA_PLATFORM");
  if (wanted.isEmpty()) wanted = preferred;
  if (wanted.isEmpty()) wanted = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? "xcb" : "wayland;xcb";
  if (wanted.split(';').contains(kFallbackPlatform)) return wanted;
  return wanted + ';' + kFallbackPlatform;
}

bool displayOpened(const QByteArray& platformArgument) {
  const QString opened = QGuiApplication::platformName();
  if (opened != QLatin1String(kFallbackPlatform)) return true;
  // The fallback was opened: fine only when it was the one asked for.
  return platformArgument.split(';').first() == kFallbackPlatform;
}

}  // namespace fx60::ui
