#pragma once
// The application's icons, drawn in code at 16 by 16 pixels (the application icon at 32).
#include <QIcon>

QIcon FolderIcon();            // closed folder, open folder when selected
QIcon StringValueIcon();       // "ab"
QIcon BinaryValueIcon();       // binary digits
QIcon NumberValueIcon();       // "123"
QIcon ApplicationIcon();
