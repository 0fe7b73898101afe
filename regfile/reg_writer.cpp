#include "regfile/reg_writer.h"

#include "regfile/reg_text.h"
#include "registry/registry_api.h"

namespace tovik {

namespace {

// regedit's wrap: after the comma that brings a line to this many characters.
constexpr std::size_t kHexWrapColumn = 77;
constexpr std::size_t kFlushBytes = 64 * 1024;
constexpr char16_t kHexDigits[] = u"0123456789abcdef";

char16_t unitAt(const BYTE* data, std::size_t i) {
    return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

// One terminated string without CR, LF, "=" or another zero unit: what the quoted form reads back
// as in every tool (some split a line at its first "=" after the name).
bool quotedFormCarries(DWORD type, const BYTE* data, std::size_t size) {
    if (type != REG_SZ || size < 2 || size % 2 != 0) return false;
    const std::size_t units = size / 2;
    if (unitAt(data, units - 1) != 0) return false;
    for (std::size_t i = 0; i + 1 < units; ++i) {
        const char16_t c = unitAt(data, i);
        if (c == 0 || c == u'\r' || c == u'\n' || c == u'=') return false;
    }
    return true;
}

bool isStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

void appendHexNumber(std::u16string& out, DWORD value) {
    char16_t digits[8];
    int count = 0;
    do {
        digits[count++] = kHexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count > 0) out.push_back(digits[--count]);
}

}  // namespace

RegFileWriter::RegFileWriter(ByteSink& sink, RegFileFormat format)
    : sink_(sink), unicode_(format != RegFileFormat::Regedit4) {}

void RegFileWriter::writeHeader() {
    if (unicode_) {
        buffer_.push_back(0xFF);
        buffer_.push_back(0xFE);
    }
    line_.assign(unicode_ ? kVersion5Header : kRegedit4Header);
    endLine();
}

void RegFileWriter::writeKey(HKEY root, std::u16string_view path) {
    writeKeyLine(root, path, false);
}

void RegFileWriter::writeDeleteKey(HKEY root, std::u16string_view path) {
    writeKeyLine(root, path, true);
}

void RegFileWriter::writeDeleteValue(std::u16string_view name) {
    line_.clear();
    appendEscapedName(name);
    line_ += u'-';
    endLine();
}

void RegFileWriter::writeKeyLine(HKEY root, std::u16string_view path, bool deletion) {
    endLine();  // the blank line before each key
    line_ = deletion ? u"[-" : u"[";
    line_ += rootKeyName(root);
    if (!path.empty()) {
        line_ += u'\\';
        for (const char16_t c : path) {
            // A key line cannot hold a line end.
            if (c == u'\r' || c == u'\n') {
                line_.push_back(u' ');
                lineInexact_ = true;
            } else {
                line_.push_back(c);
            }
        }
    }
    line_ += u']';
    endLine();
}

void RegFileWriter::appendEscapedName(std::u16string_view name) {
    if (name.empty()) {
        line_ += u"@=";
        return;
    }
    line_ += u'"';
    for (const char16_t c : name) {
        switch (c) {
        case u'\\': line_ += u"\\\\"; break;
        case u'"': line_ += u"\\\""; break;
        case u'\r': line_ += u"\\r"; break;
        case u'\n': line_ += u"\\n"; break;
        default: line_.push_back(c); break;
        }
    }
    line_ += u"\"=";
}

void RegFileWriter::writeValue(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    line_.clear();
    appendEscapedName(name);
    if (quotedFormCarries(type, data, size)) {
        line_ += u'"';
        for (std::size_t i = 0; i + 1 < size / 2; ++i) {
            const char16_t c = unitAt(data, i);
            if (c == u'\\' || c == u'"') line_.push_back(u'\\');
            line_.push_back(c);
        }
        line_ += u'"';
    } else if (type == REG_DWORD && size == 4) {
        line_ += u"dword:";
        const DWORD value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24);
        for (int shift = 28; shift >= 0; shift -= 4) line_.push_back(kHexDigits[(value >> shift) & 0xF]);
    } else {
        if (type == REG_BINARY) {
            line_ += u"hex:";
        } else {
            line_ += u"hex(";
            appendHexNumber(line_, type);
            line_ += u"):";
        }
        if (!unicode_ && isStringType(type)) {
            // The 8-bit text of the string; an odd last byte has no place in it.
            converted_.clear();
            text_.clear();
            for (std::size_t i = 0; i < size / 2; ++i) text_.push_back(unitAt(data, i));
            if (!appendUtf8(text_, converted_) || size % 2 != 0) lineInexact_ = true;
            data = converted_.data();
            size = converted_.size();
        }
        appendHexData(data, size, line_.size());
    }
    endLine();
}

void RegFileWriter::appendHexData(const BYTE* data, std::size_t size, std::size_t column) {
    for (std::size_t i = 0; i < size; ++i) {
        line_.push_back(kHexDigits[data[i] >> 4]);
        line_.push_back(kHexDigits[data[i] & 0xF]);
        if (i + 1 == size) break;
        line_.push_back(u',');
        column += 3;
        if (column >= kHexWrapColumn) {
            line_ += u"\\\r\n  ";
            column = 2;
        }
    }
}

void RegFileWriter::endLine() {
    line_ += u"\r\n";
    if (unicode_) {
        appendUtf16Le(line_, buffer_);
    } else if (!appendUtf8(line_, buffer_)) {
        lineInexact_ = true;
    }
    if (lineInexact_) ++inexact_;
    lineInexact_ = false;
    line_.clear();
    if (buffer_.size() >= kFlushBytes) flush();
}

void RegFileWriter::flush() {
    if (ok_ && !buffer_.empty()) ok_ = sink_.write(buffer_.data(), buffer_.size());
    buffer_.clear();
}

bool RegFileWriter::finish() {
    endLine();
    flush();
    return ok_;
}

}  // namespace tovik
