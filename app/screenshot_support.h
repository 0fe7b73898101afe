#pragma once
// What every screenshot writer of tovik-screenshots shares: saving a widget's picture and
// selecting a key in the view by its path.
#include <QString>

class CTovikView;
class QWidget;

// Shows the widget and lets pending events run, then writes the widget as OUTPUT_DIR/NAME.png and prints the path
// (or an error on stderr when the file could not be written).
void saveGrab(QWidget& widget, const QString& outputDir, const QString& name);

// Selects the item at a path such as "HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn", expanding the items
// above it, and lets the posted refresh fill the value list. False when a part is not found.
bool selectKeyPath(CTovikView* view, const QString& path);
