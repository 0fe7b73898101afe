#include "backup/backup_format.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "registry/roots.h"

namespace tovik {

namespace {

constexpr std::size_t kSplitBlockBytes = 1024;
constexpr std::size_t kWriterFlushBytes = 256 * 1024;

// A root line is the root's long name after two backslashes, in the case of the name.
constexpr std::u16string_view kRootLinePrefix = u"\\\\";

void appendValueLine(std::u16string& out, std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    out += u'"';
    if (name.empty()) {
        out += u'@';
    } else {
        out += name;
    }
    out += u"\"=";
    out += typeTag(type);
    out += u':';
    appendValueText(out, type, data, size);
}

}  // namespace

std::u16string backupRootLine(HKEY root) {
    if (!isHeldRoot(root)) return {};
    std::u16string line(kRootLinePrefix);
    line += findRoot(root)->longName;
    return line;
}

std::u16string backupKeyLine(std::u16string_view path) {
    std::u16string line;
    line.reserve(path.size() + 2);
    line += u'[';
    line += path;
    line += u']';
    return line;
}

std::u16string backupValueLine(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    std::u16string line;
    line.reserve(name.size() + 8 +
                 (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ ? size / 2 : size * 3));
    appendValueLine(line, name, type, data, size);
    return line;
}

// ---- BackupWriter ----

BackupWriter::BackupWriter(std::FILE* file) : file_(file) {
    if (file_ != nullptr) buffer_.reserve(kWriterFlushBytes + 4096);
}

void BackupWriter::writeStart(HKEY root) {
    writeMarkAndHeader();
    writeRootLine(root);
}

void BackupWriter::writeMarkAndHeader() {
    buffer_.insert(buffer_.end(), std::begin(kBackupByteOrderMark), std::end(kBackupByteOrderMark));
    writeLine(kBackupHeaderLine);
}

void BackupWriter::writeRootLine(HKEY root) {
    writeLine(backupRootLine(root));
}

void BackupWriter::writeLine(std::u16string_view line) {
    appendUnits(line);
    appendLineEnd();
    flushIfFull();
}

void BackupWriter::writeKeyLine(std::u16string_view path) {
    appendUnits(u"[");
    appendUnits(path);
    appendUnits(u"]");
    appendLineEnd();
    flushIfFull();
}

bool BackupWriter::writeValueLine(std::u16string_view name, DWORD type, const BYTE* data, std::size_t size) {
    scratch_.clear();
    appendValueLine(scratch_, name, type, data, size);
    writeLine(scratch_);
    const bool readsBack = valueLineReadsBack(scratch_, name, type, data, size);
    // A megabyte value should not pin a megabyte of scratch for the rest of the export.
    if (scratch_.capacity() > kWriterFlushBytes) std::u16string().swap(scratch_);
    return readsBack;
}

namespace {
bool hasLineBreakingUnit(std::u16string_view text) {
    for (const char16_t unit : text)
        if (unit == u'\r' || unit == u'\n' || unit == 0) return true;
    return false;
}
}  // namespace

namespace {
// No line break nor zero unit in text, nor an "=" at or after firstData.
bool readsAsOneLine(std::u16string_view text, std::size_t firstData) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit > u'=') continue;
        if (unit == u'\r' || unit == u'\n' || unit == 0 || (unit == u'=' && i >= firstData)) return false;
    }
    return true;
}
}  // namespace

bool valueLineReadsBack(std::u16string_view line, std::u16string_view name, DWORD type, const BYTE* data,
                        std::size_t size) {
    if (name == u"@") return false;
    // A type the file has no tag for is written as "??", which an import cannot take.
    DWORD tagged = 0;
    if (!findBackupTag(typeTag(type), &tagged) || tagged != type) return false;
    // After the quoted name and its "=" no further "=" may follow, and nowhere a line break or a
    // zero unit. The data's text holds characters of the data only for strings: numbers and
    // bytes are written in digits, letters, spaces and brackets, and only the name and the tag
    // before them need looking at.
    const std::size_t dataText = (name.empty() ? 1 : name.size()) + 3;
    const ValueTypeInfo* info = findValueType(type);
    const bool textual =
        info == nullptr || info->textForm == ValueTextForm::String || info->textForm == ValueTextForm::MultiString;
    const std::size_t end = textual ? line.size() : std::min(line.size(), dataText + typeTag(type).size() + 1);
    if (!readsAsOneLine(line.substr(0, end), dataText)) return false;
    if (type == REG_MULTI_SZ) {
        for (std::size_t i = 0; i + 1 < size; i += 2)
            if (data[i] == '|' && data[i + 1] == 0) return false;
    }
    return true;
}

bool keyLineReadsBack(std::u16string_view path) {
    return path.find(u'"') == std::u16string_view::npos && !hasLineBreakingUnit(path);
}

void BackupWriter::appendUnits(std::u16string_view units) {
    const std::size_t base = buffer_.size();
    buffer_.resize(base + units.size() * 2);
    BYTE* dst = buffer_.data() + base;
    if constexpr (std::endian::native == std::endian::little) {
        if (!units.empty()) std::memcpy(dst, units.data(), units.size() * 2);
    } else {
        for (const char16_t c : units) {
            *dst++ = static_cast<BYTE>(c & 0xFF);
            *dst++ = static_cast<BYTE>(c >> 8);
        }
    }
}

void BackupWriter::appendLineEnd() {
    buffer_.insert(buffer_.end(), {0x0D, 0x00, 0x0A, 0x00});
}

void BackupWriter::flushIfFull() {
    if (file_ != nullptr && buffer_.size() >= kWriterFlushBytes) flush();
}

bool BackupWriter::flush() {
    if (file_ == nullptr) return ok_;
    errno = 0;
    if (!buffer_.empty()) {
        if (ok_ && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) failed();
        buffer_.clear();
    }
    if (ok_ && std::fflush(file_) != 0) failed();
    return ok_;
}

void BackupWriter::failed() {
    ok_ = false;
    error_ = errno != 0 ? errno : EIO;
}

Bytes BackupWriter::takeBytes() {
    Bytes out;
    out.swap(buffer_);
    return out;
}

// ---- Reader ----

void BackupTextSplitter::feed(const BYTE* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        const std::size_t inBlock = offset_ % kSplitBlockBytes;
        if (inBlock == 0) skipping_ = false;
        const std::size_t take = std::min(kSplitBlockBytes - inBlock, size - i);
        if (skipping_) {
            i += take;
            offset_ += take;
            continue;
        }
        if ((inBlock & 1) != 0) {  // the second byte of a unit begun in the previous piece
            takeUnit(static_cast<char16_t>(low_ | (data[i] << 8)));
            ++i;
            ++offset_;
            continue;
        }
        // Whole units up to the end of this block or of this piece.
        const std::size_t units = take / 2;
        const BYTE* p = data + i;
        std::size_t u = 0;
        while (u < units && !skipping_) {
            // A run of ordinary units is appended in one go.
            std::size_t run = u;
            while (run < units && (p[2 * run + 1] != 0 || p[2 * run] > 0x0D)) ++run;
            if (run > u) {
                std::u16string& text = text_.text_;
                const std::size_t base = text.size();
                text.resize(base + (run - u));
                char16_t* dst = text.data() + base;
                for (std::size_t k = u; k < run; ++k) *dst++ = static_cast<char16_t>(p[2 * k] | (p[2 * k + 1] << 8));
                u = run;
            }
            if (u < units) {
                takeUnit(static_cast<char16_t>(p[2 * u]));
                ++u;
            }
        }
        if (skipping_) {
            i += take;
            offset_ += take;
            continue;
        }
        i += units * 2;
        offset_ += units * 2;
        if (take % 2 != 0) {  // the piece ends inside a unit
            low_ = data[i];
            ++i;
            ++offset_;
        }
    }
}

void BackupTextSplitter::takeUnit(char16_t unit) {
    if (unit == 0) {
        skipping_ = true;
    } else if (unit == u'\r') {
        endLine();
    } else if (unit != u'\n') {
        text_.text_ += unit;
    }
}

void BackupTextSplitter::endLine() {
    // Line ends are kept in 32 bits; text beyond 4 Gi units (an 8 GiB file) is not taken.
    if (text_.text_.size() > UINT32_MAX) {
        text_.text_.resize(lineStart());
        return;
    }
    text_.ends_.push_back(static_cast<std::uint32_t>(text_.text_.size()));
}

std::size_t BackupTextSplitter::lineStart() const {
    return text_.ends_.empty() ? 0 : text_.ends_.back();
}

void BackupTextSplitter::reserve(std::size_t bytes) {
    text_.text_.reserve(bytes / 2);
}

std::vector<std::u16string> BackupTextSplitter::takeLines() {
    std::vector<std::u16string> lines;
    lines.reserve(text_.size());
    for (std::size_t i = 0; i < text_.size(); ++i) lines.emplace_back(text_[i]);
    std::u16string unfinished = text_.text_.substr(lineStart());
    text_.clear();
    text_.text_ = std::move(unfinished);
    return lines;
}

BackupText BackupTextSplitter::takeText() {
    BackupText done;
    std::swap(done, text_);
    const std::size_t end = done.ends_.empty() ? 0 : done.ends_.back();
    text_.text_ = done.text_.substr(end);
    done.text_.resize(end);
    return done;
}

std::u16string_view BackupText::operator[](std::size_t index) const {
    const std::size_t line = first_ + index;
    const std::size_t start = line == 0 ? 0 : ends_[line - 1];
    return std::u16string_view(text_).substr(start, ends_[line] - start);
}

bool operator==(const BackupText& a, const BackupText& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

void BackupText::pop_front() {
    if (!empty()) ++first_;
}

void BackupText::clear() {
    text_ = std::u16string();
    ends_ = std::vector<std::uint32_t>();
    first_ = 0;
}

void BackupText::push_back(std::u16string_view line) {
    text_ += line;
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

std::vector<std::u16string> SplitBackupText(const BYTE* data, std::size_t size) {
    BackupTextSplitter splitter;
    if (data != nullptr) splitter.feed(data, size);
    return splitter.takeLines();
}

bool hasBackupByteOrderMark(const BYTE* data, std::size_t size) {
    return size >= 2 && data[0] == kBackupByteOrderMark[0] && data[1] == kBackupByteOrderMark[1];
}

bool isBackupHeaderLine(std::u16string_view line) {
    return line.substr(0, 5) == u"Tovik";
}

HKEY rootFromBackupRootLine(std::u16string_view line) {
    if (!line.starts_with(kRootLinePrefix)) return 0;
    line.remove_prefix(kRootLinePrefix.size());
    for (const RootInfo& root : heldRoots()) {
        if (root.longName == line) return root.handle;
    }
    return 0;
}

BackupLineKind classifyBackupLine(std::u16string_view line) {
    if (line.empty()) return BackupLineKind::End;
    if (line.front() == u'[') return BackupLineKind::Key;
    if (line.front() == u'"') return BackupLineKind::Value;
    return BackupLineKind::Broken;
}

BackupKeyPaths ParseKeyLine(std::u16string_view line) {
    std::u16string_view rest = line.size() >= 2 ? line.substr(1, line.size() - 2) : std::u16string_view();
    const std::size_t quote = rest.rfind(u'"');
    if (quote == std::u16string_view::npos) return BackupKeyPaths{std::u16string(), std::u16string(rest)};
    return BackupKeyPaths{std::u16string(rest.substr(0, quote)), std::u16string(rest.substr(quote + 1))};
}

bool findBackupTag(std::u16string_view tag, DWORD* type) {
    // The file's tags are exact: "sz" is no tag.
    const ValueTypeInfo* info = findValueTypeByTag(tag);
    if (info == nullptr) return false;
    if (type != nullptr) *type = info->number;
    return true;
}

BackupValue ParseValueLine(std::u16string_view line) {
    BackupValue value;
    const std::size_t eq = line.rfind(u'=');
    if (eq == std::u16string_view::npos || eq + 1 == line.size()) {
        value.ignored = true;
        return value;
    }
    const std::u16string_view namePart = line.substr(0, eq);
    const std::u16string_view dataPart = line.substr(eq + 1);

    const std::u16string_view name =
        namePart.size() >= 2 ? namePart.substr(1, namePart.size() - 2) : std::u16string_view();
    if (name != u"@") value.name = name;

    const std::size_t colon = dataPart.find(u':');
    const std::u16string_view tag =
        colon == std::u16string_view::npos ? std::u16string_view() : dataPart.substr(0, colon);
    const std::u16string_view text = colon == std::u16string_view::npos ? dataPart : dataPart.substr(colon + 1);

    value.tagFound = findBackupTag(tag, &value.type);
    if (value.tagFound) value.data = valueDataFromText(value.type, text);
    return value;
}

std::u16string fillTemplate(std::u16string_view text, std::initializer_list<std::u16string> args) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n = i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - u'0') : 0;
        if (text[i] == u'%' && n >= 1 && n <= args.size()) {
            out += *(args.begin() + (n - 1));
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace tovik
