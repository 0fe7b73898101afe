#pragma once
// Renders the value commands as the user meets them: the main window with a value selected, each
// editor opened from its row by a double-tap, and the delete question.
#include <QString>

class CMainFrame;

void saveValueCommandScreenshots(CMainFrame& frame, const QString& outputDir);
