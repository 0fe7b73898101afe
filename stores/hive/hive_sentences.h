#pragma once
// The sentences that several parts of the hive store say alike, in the user's language.
#include <string>

namespace tovik::hive {

std::string keyDeletedSentence();
std::string keyExistsSentence();

}  // namespace tovik::hive
