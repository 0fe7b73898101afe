#pragma once
// The core's texts that the interface shows, as lupdate saw them (UTF-8 source texts).
#include <span>

std::span<const char* const> coreTextSources();
