#include "regfile/reg_reader.h"

#include "regfile/reg_text.h"

namespace tovik {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::size_t skipBlanks(std::u16string_view line, std::size_t at) {
    while (at < line.size() && isBlank(line[at])) ++at;
    return at;
}

// Nothing but blanks, or blanks and a comment, from at.
bool onlyCommentFrom(std::u16string_view line, std::size_t at) {
    at = skipBlanks(line, at);
    return at == line.size() || line[at] == u';';
}

enum class QuotedResult { Ok, Unterminated, BadEscape };

// A quoted text from just after its opening quote: \\ \" \n \r are read as Wine reads them, any
// other escaped character stands for itself. *after is the position after the closing quote.
QuotedResult readQuoted(std::u16string_view line, std::size_t at, std::u16string& out, std::size_t* after) {
    out.clear();
    while (at < line.size()) {
        const char16_t c = line[at];
        if (c == u'"') {
            *after = at + 1;
            return QuotedResult::Ok;
        }
        if (c != u'\\') {
            out.push_back(c);
            ++at;
            continue;
        }
        if (at + 1 == line.size()) return QuotedResult::BadEscape;
        const char16_t escaped = line[at + 1];
        switch (escaped) {
        case u'n': out.push_back(u'\n'); break;
        case u'r': out.push_back(u'\r'); break;
        case u'0': return QuotedResult::BadEscape;
        default: out.push_back(escaped); break;
        }
        at += 2;
    }
    return QuotedResult::Unterminated;
}

enum class HexResult { Done, Continues, Bad };

// One line's piece of a comma-separated hex list, appended to out. Each byte is one or more hex
// digits after optional blanks, followed by a comma, or by blanks and the end or a comment; a
// backslash after the last comma continues the list on the next line.
HexResult readHexPiece(std::u16string_view line, std::size_t at, Bytes& out) {
    for (;;) {
        at = skipBlanks(line, at);
        if (at == line.size()) return HexResult::Done;
        int digit = hexDigit(line[at]);
        if (digit < 0) {
            if (line[at] == u';') return HexResult::Done;
            if (line[at] == u'\\') return onlyCommentFrom(line, at + 1) ? HexResult::Continues : HexResult::Bad;
            return HexResult::Bad;
        }
        unsigned value = 0;
        for (; at < line.size() && (digit = hexDigit(line[at])) >= 0; ++at) {
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 0xFF) return HexResult::Bad;
        }
        out.push_back(static_cast<BYTE>(value));
        if (at < line.size() && line[at] == u',') {
            ++at;
            continue;
        }
        return onlyCommentFrom(line, at) ? HexResult::Done : HexResult::Bad;
    }
}

bool startsWith(std::u16string_view text, std::size_t at, std::u16string_view prefix) {
    return text.size() - at >= prefix.size() && text.compare(at, prefix.size(), prefix) == 0;
}

}  // namespace

std::u16string_view RegFileProblemText(RegFileProblemKind kind) {
    switch (kind) {
    case RegFileProblemKind::BadKeyLine: return u"キーの行が正しくありません";
    case RegFileProblemKind::UnknownRoot: return u"ルートキーの名前が分かりません";
    case RegFileProblemKind::RootDeletion: return u"ルートキーは削除できません";
    case RegFileProblemKind::BadValueLine: return u"値の行が正しくありません";
    case RegFileProblemKind::BadEscape: return u"文字列のエスケープが正しくありません";
    case RegFileProblemKind::UnterminatedString: return u"文字列が閉じていません";
    case RegFileProblemKind::BadDword: return u"dword の値が正しくありません";
    case RegFileProblemKind::BadHex: return u"16進データが正しくありません";
    case RegFileProblemKind::UnknownDataForm: return u"データの形式が分かりません";
    case RegFileProblemKind::UnexpectedLine: return u"行の形式が分かりません";
    case RegFileProblemKind::LineAfterBrokenHex: return u"途切れた16進データの続きとして読み飛ばしました";
    case RegFileProblemKind::KeyNotCreated: return u"キーを作成できません";
    case RegFileProblemKind::KeyNotDeleted: return u"キーを削除できません";
    case RegFileProblemKind::ValueNotWritten: return u"値を書き込めません";
    case RegFileProblemKind::ValueNotDeleted: return u"値を削除できません";
    }
    return {};
}

RegFileReader::RegFileReader(std::u16string_view text) : text_(text) {
    std::u16string_view header;
    if (nextLine(header)) format_ = RegFileFormatFromHeader(header);
}

bool RegFileReader::nextLine(std::u16string_view& line) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = pos_;
    while (end < text_.size() && text_[end] != u'\r' && text_[end] != u'\n') ++end;
    line = text_.substr(pos_, end - pos_);
    if (end < text_.size()) {
        const bool crlf = text_[end] == u'\r' && end + 1 < text_.size() && text_[end + 1] == u'\n';
        end += crlf ? 2 : 1;
    }
    pos_ = end;
    ++lineNumber_;
    return true;
}

bool RegFileReader::next(RegFileEntry& entry) {
    if (format_ != RegFileFormat::Regedit4 && format_ != RegFileFormat::Version5) return false;
    if (droppedLine_ != 0) {
        entry = RegFileEntry();
        entry.line = droppedLine_;
        droppedLine_ = 0;
        return malformed(entry, RegFileProblemKind::LineAfterBrokenHex);
    }
    for (;;) {
        std::u16string_view line;
        if (!nextLine(line)) return false;
        if (takeLine(line, lineNumber_, entry)) return true;
    }
}

bool RegFileReader::malformed(RegFileEntry& entry, RegFileProblemKind problem) {
    entry.kind = RegFileEntryKind::Malformed;
    entry.problem = problem;
    return true;
}

// False for a line that gives no entry (blank or comment).
bool RegFileReader::takeLine(std::u16string_view line, std::size_t number, RegFileEntry& entry) {
    const std::size_t at = skipBlanks(line, 0);
    if (at == line.size() || line[at] == u';') return false;
    entry = RegFileEntry();
    entry.line = number;
    switch (line[at]) {
    case u'[': return takeKeyLine(line, at + 1, entry);
    case u'@':
    case u'"': return takeValueLine(line, at, entry);
    default: return malformed(entry, RegFileProblemKind::UnexpectedLine);
    }
}

bool RegFileReader::takeKeyLine(std::u16string_view line, std::size_t at, RegFileEntry& entry) {
    // Whatever follows the last "]" is ignored, as other tools do; a key name may hold "]".
    const std::size_t close = line.rfind(u']');
    if (at == line.size() || isBlank(line[at]) || close == std::u16string_view::npos || close < at) {
        target_ = RegFileValueTarget::NoKey;
        return malformed(entry, RegFileProblemKind::BadKeyLine);
    }
    std::u16string_view content = line.substr(at, close - at);
    const bool deletion = !content.empty() && content.front() == u'-';
    if (deletion) content.remove_prefix(1);
    std::u16string_view path;
    const HKEY root = parseRegRootPath(content, &path);
    // A path ending in backslashes names the key without them, as the platform reads it.
    while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    if (root == 0) {
        target_ = RegFileValueTarget::NoKey;
        return malformed(entry, RegFileProblemKind::UnknownRoot);
    }
    entry.path = path;
    if (root == kRegOtherRoot) {
        target_ = RegFileValueTarget::OtherRoot;
        entry.kind = RegFileEntryKind::OtherRootKey;
        return true;
    }
    if (deletion) {
        target_ = RegFileValueTarget::NoKey;
        if (path.empty()) return malformed(entry, RegFileProblemKind::RootDeletion);
        entry.kind = RegFileEntryKind::DeleteKey;
        entry.root = root;
        return true;
    }
    target_ = RegFileValueTarget::CurrentKey;
    entry.kind = RegFileEntryKind::Key;
    entry.root = root;
    return true;
}

bool RegFileReader::takeValueLine(std::u16string_view line, std::size_t at, RegFileEntry& entry) {
    name_.clear();
    if (line[at] == u'@') {
        ++at;
    } else {
        switch (readQuoted(line, at + 1, name_, &at)) {
        case QuotedResult::Ok: break;
        case QuotedResult::Unterminated: return malformed(entry, RegFileProblemKind::UnterminatedString);
        case QuotedResult::BadEscape: return malformed(entry, RegFileProblemKind::BadEscape);
        }
    }
    at = skipBlanks(line, at);
    if (at == line.size() || line[at] != u'=') return malformed(entry, RegFileProblemKind::BadValueLine);
    at = skipBlanks(line, at + 1);
    std::size_t end = line.size();
    while (end > at && isBlank(line[end - 1])) --end;
    line = line.substr(0, end);
    entry.name = name_;
    entry.target = target_;

    if (startsWith(line, at, u"-")) {
        if (!onlyCommentFrom(line, at + 1)) return malformed(entry, RegFileProblemKind::UnknownDataForm);
        entry.kind = RegFileEntryKind::DeleteValue;
        return true;
    }
    data_.clear();
    entry.kind = RegFileEntryKind::Value;
    if (startsWith(line, at, u"\"")) {
        std::size_t after = 0;
        switch (readQuoted(line, at + 1, text16_, &after)) {
        case QuotedResult::Ok: break;
        case QuotedResult::Unterminated: return malformed(entry, RegFileProblemKind::UnterminatedString);
        case QuotedResult::BadEscape: return malformed(entry, RegFileProblemKind::BadEscape);
        }
        if (!onlyCommentFrom(line, after)) return malformed(entry, RegFileProblemKind::BadValueLine);
        text16_.push_back(u'\0');  // the quoted form is a terminated string
        appendUtf16Le(text16_, data_);
        entry.type = REG_SZ;
        entry.data = data_.data();
        entry.size = data_.size();
        return true;
    }
    if (startsWith(line, at, u"dword:")) {
        at = skipBlanks(line, at + 6);
        DWORD value = 0;
        std::size_t digits = 0;
        for (int digit = 0; at < line.size() && (digit = hexDigit(line[at])) >= 0; ++at, ++digits) {
            value = value * 16 + static_cast<DWORD>(digit);
        }
        if (digits == 0 || digits > 8 || !onlyCommentFrom(line, at))
            return malformed(entry, RegFileProblemKind::BadDword);
        data_ = dwordToBytes(value);
        entry.type = REG_DWORD;
        entry.data = data_.data();
        entry.size = data_.size();
        return true;
    }
    if (startsWith(line, at, u"hex:")) {
        entry.type = REG_BINARY;
        return takeHexData(line, at + 4, entry);
    }
    if (startsWith(line, at, u"hex(")) {
        at = skipBlanks(line, at + 4);
        // "hex(0x2):" is refused as other tools refuse it; an empty number is type 0 as there.
        if (at + 1 < line.size() && (line[at + 1] == u'x' || line[at + 1] == u'X'))
            return malformed(entry, RegFileProblemKind::UnknownDataForm);
        std::uint64_t type = 0;
        for (int digit = 0; at < line.size() && (digit = hexDigit(line[at])) >= 0; ++at) {
            type = type * 16 + static_cast<unsigned>(digit);
            if (type > 0xFFFFFFFFu) return malformed(entry, RegFileProblemKind::UnknownDataForm);
        }
        if (!startsWith(line, at, u"):")) return malformed(entry, RegFileProblemKind::UnknownDataForm);
        entry.type = static_cast<DWORD>(type);
        return takeHexData(line, at + 2, entry);
    }
    return malformed(entry, RegFileProblemKind::UnknownDataForm);
}

bool RegFileReader::takeHexData(std::u16string_view line, std::size_t at, RegFileEntry& entry) {
    HexResult result = readHexPiece(line, at, data_);
    while (result == HexResult::Continues) {
        std::u16string_view next;
        if (!nextLine(next)) break;  // the end of the file ends the list
        const std::size_t start = skipBlanks(next, 0);
        if (start == next.size() || next[start] == u';') continue;
        if (hexDigit(next[start]) < 0) {
            // Not hex data: the platform takes the line as part of the broken value and drops it
            // (a key line or a value line with it); it is reported after the value.
            droppedLine_ = lineNumber_;
            result = HexResult::Bad;
            break;
        }
        result = readHexPiece(next, start, data_);
    }
    if (result == HexResult::Bad) return malformed(entry, RegFileProblemKind::BadHex);
    if ((entry.type == REG_SZ || entry.type == REG_EXPAND_SZ || entry.type == REG_MULTI_SZ) && !data_.empty()) {
        // String data gets its terminating zero when it has none, as the platform imports it.
        if (format_ == RegFileFormat::Regedit4) {
            // Version 4 holds string data as 8-bit text; the registry holds UTF-16.
            if (data_.back() != 0) data_.push_back(0);
            text16_.clear();
            appendEightBitText(data_.data(), data_.size(), text16_);
            data_.clear();
            appendUtf16Le(text16_, data_);
        } else if (data_.size() % 2 == 0 && (data_[data_.size() - 2] != 0 || data_.back() != 0)) {
            // An odd size is no UTF-16 text: its bytes are kept as they are.
            data_.push_back(0);
            data_.push_back(0);
        }
    }
    entry.data = data_.data();
    entry.size = data_.size();
    return true;
}

}  // namespace tovik
