#include "platform/qt/dialog_font.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>

namespace fx60::ui {

namespace {

constexpr int kDesignDpi = 96;
constexpr int kPointsPerInch = 72;

}  // namespace

QStringList songStyleCandidates() {
  return {QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC")};
}

QString songStyleFamily() {
  const QStringList installed = QFontDatabase::families();
  for (const QString& family : songStyleCandidates())
    if (installed.contains(family)) return family;
  return {};
}

QFont dialogFont(int pointSize) {
  QFont font;
  const QString family = songStyleFamily();
  if (!family.isEmpty()) font.setFamilies({family});
  font.setPixelSize((pointSize * kDesignDpi + kPointsPerInch / 2) / kPointsPerInch);
  font.setStyleStrategy(QFont::PreferDefault);
  return font;
}

bool fontDrawsAll(const QFont& font, const QString& text) {
  const QRawFont raw = QRawFont::fromFont(font);
  if (!raw.isValid()) return false;
  for (const char32_t character : text.toUcs4())
    if (!raw.supportsCharacter(character)) return false;
  return true;
}

}  // namespace fx60::ui
