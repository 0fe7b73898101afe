#pragma once
// Renders the chooser of ﾂｰﾙ > レジストリを開く... on a small made-up home (a Steam library with
// three games, a Lutris game, a bottle, ~/.wine) into PNG files in outputDir.
#include <QString>

class CTovikView;

void saveChooserScreenshots(CTovikView& view, const QString& outputDir);
