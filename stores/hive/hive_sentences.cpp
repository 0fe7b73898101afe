#include "stores/hive/hive_sentences.h"

#include "language/messages.h"

namespace tovik::hive {

std::string keyDeletedSentence() {
    return std::string(text({"The key was deleted.", "キーは削除されています。"}));
}

std::string keyExistsSentence() {
    return std::string(text({"A key of that name exists already.", "その名前のキーはすでにあります。"}));
}

}  // namespace tovik::hive
