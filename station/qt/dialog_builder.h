// Makes a dialog's controls from its template.
#pragma once

#include <QWidget>
#include <map>
#include <span>

#include "platform/qt/dialog_units.h"
#include "station/dialog_templates.h"

namespace fx60::station::ui {

// Creates the controls of `controls` on `dialog`, each at its rectangle, with its
// caption and flags, in template order. Each is named after its id (or its
// template name when it has none). The controls by id.
std::map<int, QWidget*> createControls(QWidget* dialog, std::span<const ControlTemplate> controls,
                                       const fx60::ui::DialogBaseUnits& base);

// The object name of a control.
QString controlName(const ControlTemplate& control);

}  // namespace fx60::station::ui
