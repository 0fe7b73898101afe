#pragma once
// The application's icons, drawn in code at 16 by 16 pixels (the application icon at 32).
#include <QIcon>

QIcon folderIcon();       // closed folder, open folder when selected
QIcon stringValueIcon();  // "ab"
QIcon binaryValueIcon();  // binary digits
QIcon numberValueIcon();  // "123"
QIcon applicationIcon();
