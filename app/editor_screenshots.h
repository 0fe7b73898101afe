#pragma once
// Renders the string, number and binary editors, each in its edit and its add form, into PNG
// files in outputDir.
#include <QString>

void saveEditorScreenshots(const QString& outputDir);
