#include "discover/key_values.h"

namespace tovik::discover {

namespace {

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

enum class TokenKind { End, Text, Open, Close, Damaged };

class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : text_(text) {}

    TokenKind next(std::string& token) {
        skipSpaceAndComments();
        if (pos_ >= text_.size()) return TokenKind::End;
        const char c = text_[pos_];
        if (c == '{') return ++pos_, TokenKind::Open;
        if (c == '}') return ++pos_, TokenKind::Close;
        token.clear();
        if (c == '"') return quoted(token);
        while (pos_ < text_.size() && !isSpace(text_[pos_]) && text_[pos_] != '{' && text_[pos_] != '}' &&
               text_[pos_] != '"') {
            token += text_[pos_++];
        }
        return TokenKind::Text;
    }

    // A condition such as [$WIN32] after a token; skipped, it never decides anything here.
    void skipCondition() {
        skipSpaceAndComments();
        if (pos_ < text_.size() && text_[pos_] == '[') {
            const std::size_t end = text_.find(']', pos_);
            pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        }
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

    void skipSpaceAndComments() {
        while (pos_ < text_.size()) {
            if (isSpace(text_[pos_])) {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                const std::size_t end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else {
                break;
            }
        }
    }

    TokenKind quoted(std::string& token) {
        ++pos_;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return TokenKind::Text;
            if (c != '\\' || pos_ >= text_.size()) {
                token += c;
                continue;
            }
            const char escaped = text_[pos_++];
            switch (escaped) {
            case 'n': token += '\n'; break;
            case 't': token += '\t'; break;
            case 'r': token += '\r'; break;
            default: token += escaped; break;  // \\ and \" and anything else stand for themselves
            }
        }
        return TokenKind::Damaged;  // the file ended inside a string
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

// Reads entries into block until its closing brace (or the end, at the top level).
bool readEntries(Tokenizer& tokens, KeyValues& block, int depthLeft, bool topLevel) {
    std::string key;
    std::string value;
    for (;;) {
        switch (tokens.next(key)) {
        case TokenKind::End: return topLevel;
        case TokenKind::Close: return !topLevel;
        case TokenKind::Open:
        case TokenKind::Damaged: return false;
        case TokenKind::Text: break;
        }
        tokens.skipCondition();
        KeyValues entry;
        entry.key = key;
        switch (tokens.next(value)) {
        case TokenKind::Text:
            entry.value = std::move(value);
            tokens.skipCondition();
            break;
        case TokenKind::Open:
            if (depthLeft <= 0) return false;
            entry.isBlock = true;
            if (!readEntries(tokens, entry, depthLeft - 1, false)) return false;
            tokens.skipCondition();
            break;
        default: return false;  // a key without a value
        }
        block.children.push_back(std::move(entry));
    }
}

}  // namespace

const KeyValues* KeyValues::find(std::string_view name) const {
    for (const KeyValues& child : children) {
        if (equalsIgnoringAsciiCase(child.key, name)) return &child;
    }
    return nullptr;
}

std::string KeyValues::text(std::string_view name) const {
    const KeyValues* child = find(name);
    return child && !child->isBlock ? child->value : std::string();
}

std::optional<KeyValues> parseKeyValues(std::string_view text, int maxDepth) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    Tokenizer tokens(text);
    KeyValues top;
    top.isBlock = true;
    if (!readEntries(tokens, top, maxDepth, true)) return std::nullopt;
    return top;
}

}  // namespace tovik::discover
