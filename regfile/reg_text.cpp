#include "regfile/reg_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>

namespace tovik {

namespace {

// 0x80 to 0x9F of Windows-1252; the five unassigned bytes map to the control code of the same
// number, as Windows itself converts them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The length of the valid UTF-8 sequence at data[0], or 0 when it is not one (overlong forms,
// encoded surrogates and code points above U+10FFFF are not).
std::size_t utf8SequenceLength(const BYTE* data, std::size_t size, char32_t* code) {
    const BYTE lead = data[0];
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (length > size) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((data[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (data[i] & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return length;
}

bool isValidUtf8(const BYTE* data, std::size_t size) {
    char32_t code = 0;
    for (std::size_t i = 0; i < size;) {
        if (data[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(data + i, size - i, &code);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

void appendCodePoint(char32_t code, std::u16string& out) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
    } else {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    }
}

}  // namespace

void appendEightBitText(const BYTE* data, std::size_t size, std::u16string& out) {
    if (isValidUtf8(data, size)) {
        char32_t code = 0;
        for (std::size_t i = 0; i < size;) {
            if (data[i] < 0x80) {
                out.push_back(data[i++]);
                continue;
            }
            i += utf8SequenceLength(data + i, size - i, &code);
            appendCodePoint(code, out);
        }
        return;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const BYTE b = data[i];
        out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b));
    }
}

RegFileText decodeRegFileBytes(const BYTE* data, std::size_t size) {
    RegFileText result;
    if (data == nullptr) return result;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        result.encoding = RegFileEncoding::Utf16Le;
        const std::size_t units = (size - 2) / 2;
        result.text.resize(units);
        const BYTE* p = data + 2;
        for (std::size_t i = 0; i < units; ++i) {
            result.text[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        }
        return result;
    }
    std::size_t at = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        result.encoding = RegFileEncoding::Utf8Mark;
        at = 3;
    }
    result.text.reserve(size - at);
    // Line by line, so that one line in the ANSI code page does not change how the others read.
    while (at < size) {
        std::size_t end = at;
        while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
        appendEightBitText(data + at, end - at, result.text);
        while (end < size && (data[end] == '\r' || data[end] == '\n')) result.text.push_back(data[end++]);
        at = end;
    }
    return result;
}

RegFileFormat sniffRegFileFormat(const BYTE* data, std::size_t size, bool wholeFile) {
    const RegFileText head = decodeRegFileBytes(data, size);
    const std::size_t end = head.text.find_first_of(u"\r\n");
    if (end == std::u16string::npos && !wholeFile) return RegFileFormat::Unknown;  // the first line is cut off
    return RegFileFormatFromHeader(std::u16string_view(head.text).substr(0, end));
}

RegFileFormat sniffRegFileAt(const std::string& path) {
    // O_NONBLOCK: opening a FIFO that no one writes to would wait for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return RegFileFormat::Unknown;
    struct stat info {};
    BYTE head[512];
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got <= 0) return RegFileFormat::Unknown;
    return sniffRegFileFormat(head, static_cast<std::size_t>(got), static_cast<off_t>(got) >= info.st_size);
}

namespace {

// Reads exactly size bytes at offset into out; false with errno set on an error or a short file.
bool readAt(int fd, void* out, std::size_t size, off_t offset) {
    auto* p = static_cast<char*>(out);
    while (size > 0) {
        const ssize_t got = ::pread(fd, p, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // the file shrank while it was read
            return false;
        }
        p += got;
        size -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

}  // namespace

std::optional<RegFileText> readRegFileAt(const std::string& path, int* error) {
    // Without O_NONBLOCK, opening a FIFO that no one writes to would wait for ever; a FIFO or
    // device is refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return std::nullopt;
    }
    std::optional<RegFileText> result;
    struct stat info {};
    BYTE mark[2] = {0, 0};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        ok = false;
    }
    const std::size_t size = ok ? static_cast<std::size_t>(info.st_size) : 0;
    if (ok && size >= 2 && (ok = readAt(fd, mark, 2, 0)) && mark[0] == 0xFF && mark[1] == 0xFE) {
        result.emplace();
        result->encoding = RegFileEncoding::Utf16Le;
        result->text.resize((size - 2) / 2);
        ok = readAt(fd, result->text.data(), result->text.size() * 2, 2);
        if (ok && std::endian::native == std::endian::big) {
            for (char16_t& unit : result->text) unit = static_cast<char16_t>((unit >> 8) | (unit << 8));
        }
    } else if (ok) {
        Bytes bytes(size);
        if ((ok = readAt(fd, bytes.data(), size, 0))) result = decodeRegFileBytes(bytes.data(), bytes.size());
    }
    const int readErrno = errno;
    ::close(fd);
    if (!ok) {
        if (error != nullptr) *error = readErrno != 0 ? readErrno : EIO;
        return std::nullopt;
    }
    return result;
}

bool appendUtf8(std::u16string_view text, Bytes& out) {
    bool exact = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code < 0x80) {
            out.push_back(static_cast<BYTE>(code));
            continue;
        }
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
            exact = false;
        }
        if (code < 0x800) {
            out.push_back(static_cast<BYTE>(0xC0 | (code >> 6)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<BYTE>(0xE0 | (code >> 12)));
            out.push_back(static_cast<BYTE>(0x80 | ((code >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<BYTE>(0xF0 | (code >> 18)));
            out.push_back(static_cast<BYTE>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<BYTE>(0x80 | ((code >> 6) & 0x3F)));
        }
        out.push_back(static_cast<BYTE>(0x80 | (code & 0x3F)));
    }
    return exact;
}

void appendUtf16Le(std::u16string_view text, Bytes& out) {
    const std::size_t at = out.size();
    out.resize(at + text.size() * 2);
    BYTE* p = out.data() + at;
    for (const char16_t c : text) {
        *p++ = static_cast<BYTE>(c & 0xFF);
        *p++ = static_cast<BYTE>(c >> 8);
    }
}

}  // namespace tovik
