#pragma once
// Reads the #include lines of the source folders and reports every include that points upward
// (to a folder its layer may not use) and every loop of folders that include each other.
#include <string>
#include <vector>

namespace layers {

// Each line names the including file and what is wrong. Empty when the tree keeps the layers.
std::vector<std::string> findLayerViolations(const std::string& root);

}  // namespace layers
