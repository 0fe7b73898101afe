#pragma once
// The registries' own sentences in the window's language. The backends (stores/) say why a
// registry opened read-only, or could not open, in English sentences that the command line
// prints as they are; the window recognises each such sentence by its shape and says it again
// from a translated text with the same particulars (file, process, error). A sentence of any
// other shape is shown as it is.
#include <QString>
#include <string>
#include <vector>

QString storeText(const std::string& sentence);

// The notices of an opened registry as one message: the hives that Windows did not shut down
// cleanly in one list, then every other notice; empty when there are none.
QString storeNoticesText(const std::vector<std::string>& notices);
