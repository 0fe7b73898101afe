// query KEY [-r]: the key's block as a backup file holds it, and with -r every block below it.
#include <ostream>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup/backup_export.h"
#include "backup/backup_format.h"
#include "cli/command_handlers.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/utf8.h"
#include "registry/key_enum.h"
#include "registry/key_path.h"
#include "registry/key_time.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"

namespace tovik::cli {

namespace {

// Collects UTF-8 lines and hands them to the stream in large pieces: a dump of a whole store is
// millions of lines, and a write per line would cost more than reading them.
class LineOutput {
public:
    explicit LineOutput(std::ostream& out) : out_(out) { buffer_.reserve(kChunk + 4096); }

    void line(std::u16string_view text) {
        // A line of a large value (a 100 MB value is a line of 300 MB) goes out in pieces, never
        // whole in the buffer. A piece never ends between the two halves of a surrogate pair.
        while (text.size() > kChunk) {
            std::size_t piece = kChunk;
            if (text[piece - 1] >= 0xD800 && text[piece - 1] <= 0xDBFF) --piece;
            appendUtf8(buffer_, text.substr(0, piece));
            text.remove_prefix(piece);
            flush();
        }
        appendUtf8(buffer_, text);
        buffer_.push_back('\n');
        if (buffer_.size() >= kChunk) flush();
    }

    // Text that is UTF-8 already, with its line ends.
    void text(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= kChunk) flush();
    }

    bool flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
        return static_cast<bool>(out_);
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    std::ostream& out_;
    std::string buffer_;
};

// Writes each key as a backup file holds it, or (json) as one element of an array of keys.
class QueryWriter {
public:
    QueryWriter(std::ostream& out, HKEY root, bool json, bool times)
        : output_(out), root_(root), json_(json), times_(times) {}

    // The key line and the value lines of one key.
    LONG writeBlock(HKEY key, std::u16string_view path) {
        if (json_) return writeJsonKey(key, path);
        if (times_) {
            // The key line as Wine writes its own, with the time after the bracket.
            std::u16string line = backupKeyLine(path);
            const std::string time = formatFileTimeUtc(keyWriteTime(key));
            line += u' ';
            line.append(time.begin(), time.end());
            output_.line(line);
        } else {
            output_.line(backupKeyLine(path));
        }
        EnumeratedValue value;
        for (DWORD index = 0;; ++index) {
            const LONG result = enumValue(key, index, buffers_, value);
            if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
            if (result != ERROR_SUCCESS) return result;
            output_.line(backupValueLine(value.name, value.type, value.data, value.size));
        }
    }

    // Closes the JSON array.
    void end() {
        if (json_) output_.text(keysWritten_ == 0 ? "[]\n" : "\n]\n");
    }

    // The next subkey's name into name; ERROR_NO_MORE_ITEMS after the last.
    LONG nextSubkey(HKEY key, DWORD index, std::u16string& name) {
        std::u16string_view listed;
        const LONG result = enumSubkeyName(key, index, buffers_, listed);
        if (result == ERROR_SUCCESS) name.assign(listed);
        return result;
    }

    bool flush() { return output_.flush(); }

private:
    LONG writeJsonKey(HKEY key, std::u16string_view path) {
        nlohmann::ordered_json values = nlohmann::ordered_json::array();
        EnumeratedValue value;
        LONG result = ERROR_SUCCESS;
        for (DWORD index = 0;; ++index) {
            result = enumValue(key, index, buffers_, value);
            if (result != ERROR_SUCCESS) break;
            values.push_back(jsonValue(root_, path, value.name, value.type, value.data, value.size));
        }
        nlohmann::ordered_json block{{"path", utf16ToUtf8(fullKeyPath(root_, path))}};
        if (times_) {
            const std::string time = formatFileTimeUtc(keyWriteTime(key));
            block["written"] = time.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(time);
        }
        block["values"] = std::move(values);
        output_.text(keysWritten_++ == 0 ? "[\n" : ",\n");
        output_.text(jsonText(block));
        return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : result;
    }

    LineOutput output_;
    EnumBuffers buffers_;
    HKEY root_;
    bool json_;
    bool times_;
    std::size_t keysWritten_ = 0;
};

// One open key of the walk and how far its subkeys have been listed.
struct WalkFrame {
    KeyHandle key;
    std::u16string path;
    DWORD nextSubkey = 0;
};

}  // namespace

int runQuery(const Command& command, std::ostream& out, std::ostream& err) {
    // One transaction for the whole walk: the listing is a snapshot of one moment, and the store
    // does not lock and unlock its file for each of millions of reads (several times faster).
    // It is a read transaction: other processes go on writing meanwhile.
    RegistryReadSnapshot snapshot;
    KeyHandle top;
    const LONG opened = openKeyHandle(command.key.root, command.key.path, top);
    if (opened != ERROR_SUCCESS) return reportKeyFailure(err, opened, command.key, Action::Open);

    QueryWriter writer(out, command.key.root, command.json, command.times);
    std::u16string topPath =
        command.key.path.empty() ? std::u16string() : storedKeyPath(command.key.root, command.key.path);
    int code = kExitSuccess;
    auto readFailed = [&](std::u16string_view path, LONG result) {
        code = reportKeyFailure(err, result, {command.key.root, std::u16string(path)}, Action::Read);
    };

    if (LONG result = writer.writeBlock(top.get(), topPath); result != ERROR_SUCCESS) readFailed(topPath, result);

    // Depth first with an explicit stack: the store allows 512 levels, more than a thread's stack
    // should be trusted with.
    std::vector<WalkFrame> stack;
    if (command.recursive) stack.push_back({std::move(top), std::move(topPath), 0});
    std::u16string name;
    while (!stack.empty()) {
        WalkFrame& frame = stack.back();
        const LONG result = writer.nextSubkey(frame.key.get(), frame.nextSubkey++, name);
        if (result != ERROR_SUCCESS) {
            // A key deleted by another process meanwhile just ends its listing.
            if (result != ERROR_NO_MORE_ITEMS && result != ERROR_KEY_DELETED) readFailed(frame.path, result);
            stack.pop_back();
            continue;
        }
        KeyHandle child;
        std::u16string childPath = frame.path.empty() ? name : frame.path + u'\\' + name;
        if (const LONG rc = openKeyHandle(frame.key.get(), name, child); rc != ERROR_SUCCESS) {
            if (rc != ERROR_BADDB) continue;  // deleted meanwhile
            // A key inside itself: the walk would never end.
            reportError(err, loopedTreeText({command.key.root, childPath}));
            code = kExitFailure;
            break;
        }
        if (LONG read = writer.writeBlock(child.get(), childPath); read != ERROR_SUCCESS) readFailed(childPath, read);
        stack.push_back({std::move(child), std::move(childPath), 0});
    }

    writer.end();
    if (!writer.flush() || !out.flush()) {
        reportError(err, say(kCannotWriteOutput));
        return kExitFailure;
    }
    return code;
}

}  // namespace tovik::cli
