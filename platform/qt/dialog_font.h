// The dialogs' font. The design names "宋体", a Song (Ming) style Chinese font
// that Linux systems do not have under that name; a Song style font from the
// distribution stands in for it.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace fx60::ui {

// The stand-ins for "宋体", in order of preference: AR PL UMing (Debian
// fonts-arphic-uming), then Noto Serif CJK (fonts-noto-cjk).
QStringList songStyleCandidates();

// The first candidate that is installed; empty when none is.
QString songStyleFamily();

// The design's font "宋体" at `pointSize`, sized in pixels as the design's
// platform sizes it on a 96 dpi screen, so that dialog units come out the same
// on every screen.
QFont dialogFont(int pointSize);

// Whether `font` has a glyph of its own for every character of `text`.
bool fontDrawsAll(const QFont& font, const QString& text);

}  // namespace fx60::ui
