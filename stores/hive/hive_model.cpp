#include "stores/hive/hive_model.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <hivex.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/durable_writer.h"
#include "files/safe_read.h"
#include "language/messages.h"
#include "registry/key_time.h"
#include "registry/name_fold.h"
#include "stores/hive/hive_sentences.h"
#include "stores/hive/hive_text.h"

namespace tovik::hive {

namespace {

// hivex cannot allocate a cell above 1,000,000 bytes (data plus its 4-byte size). Hives of
// format 1.4 and later hold data above 16,344 bytes in big-data records, which hivex does not
// write: Windows would misread a longer value written as one cell.
constexpr std::size_t kMaxCellData = 1000000 - 4;
constexpr std::size_t kMaxSingleCellData = 16344;
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// A registry value's type is any 32-bit number, hivex's hive_type an enum of twelve: a number
// outside the enum's range must not be held as one, so it is moved as bytes.
static_assert(sizeof(hive_type) == sizeof(std::uint32_t));
std::uint32_t typeNumber(const hive_type& type) {
    std::uint32_t number = 0;
    std::memcpy(&number, &type, sizeof number);
    return number;
}
void setTypeNumber(hive_type& type, std::uint32_t number) {
    std::memcpy(&type, &number, sizeof number);
}

HiveResult ok() {
    return {};
}
HiveResult fail(HiveStatus status, std::string_view message) {
    return {status, std::string(message)};
}

std::uint32_t hiveMinorVersion(const std::string& path) {
    unsigned char head[0x1c] = {};
    std::size_t got = 0;
    if (!files::readHead(path, head, sizeof head, got).ok() || got != sizeof head) return 0;
    return head[0x18] | (head[0x19] << 8) | (head[0x1a] << 16) | (static_cast<std::uint32_t>(head[0x1b]) << 24);
}

std::string noSuchValueSentence() {
    return std::string(text({"There is no such value.", "その値はありません。"}));
}

std::string cannotOpen(const std::string& path, std::string_view why) {
    return say({"Cannot open %1: %2.", "%1 を開けません: %2。"}, {path, why});
}

std::string describeOpenFailure(const std::string& path, int err) {
    switch (err) {
    case ENOTSUP:
    case EINVAL:
    case EFAULT:
    case ERANGE:
        return say({"%1 is not a Windows registry hive, or it is damaged (%2).",
                    "%1 はWindowsのレジストリハイブではないか、壊れています（%2）。"},
                   {path, std::strerror(err)});
    case ENOMEM: return say({"There is not enough memory to open %1.", "%1 を開くためのメモリが足りません。"}, {path});
    default: return cannotOpen(path, std::strerror(err));
    }
}

// A private copy of the file in memory, as a descriptor; -1 when one cannot be made.
int copyIntoMemoryFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    const int copy = ::memfd_create("tovik-hive", MFD_CLOEXEC);
    if (copy < 0) return -1;
    off_t at = 0;
    while (at < st.st_size) {
        const ssize_t sent = ::sendfile(copy, fd, &at, static_cast<std::size_t>(st.st_size - at));
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) {
            ::close(copy);
            return -1;  // hivex reads the file itself
        }
        if (sent == 0) break;  // the file shrank meanwhile: hivex judges what was read
    }
    return copy;
}

}  // namespace

std::unique_ptr<HiveModel> HiveModel::open(const std::string& path, const HiveOpenOptions& options,
                                           HiveResult& result) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result = fail(HiveStatus::Failed, cannotOpen(path, std::strerror(errno)));
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        result = fail(HiveStatus::Failed, cannotOpen(path, text({"it is not a file", "ファイルではありません"})));
        return nullptr;
    }
    std::unique_ptr<HiveModel> model(new HiveModel());
    model->path_ = path;
    model->writable_ = options.writable;
    model->readOnlyReason_ = unfinishedWindowsWriteReason(path);
    if (!model->readOnlyReason_.empty()) model->writable_ = false;
    model->maxValueSize_ = hiveMinorVersion(path) >= 4 ? kMaxSingleCellData : kMaxCellData;
    result = model->openHandle();
    if (!result.ok()) return nullptr;
    return model;
}

void HiveModel::HandleSet::insert(std::uint64_t handle) {
    const std::uint64_t bit = handle >> 2;
    // Grown by halves at least: handles come in file order, each a little further on.
    if ((bit >> 6) >= words_.size()) words_.resize(std::max((bit >> 6) + 1, words_.size() + words_.size() / 2));
    words_[bit >> 6] |= std::uint64_t{1} << (bit & 63);
}

void HiveModel::HandleSet::erase(std::uint64_t handle) {
    const std::uint64_t bit = handle >> 2;
    if ((bit >> 6) < words_.size()) words_[bit >> 6] &= ~(std::uint64_t{1} << (bit & 63));
}

HiveModel::~HiveModel() {
    closeHandle();
}

HiveResult HiveModel::openHandle() {
    closeHandle();
    guard_.clear();
    errno = 0;
    // Always a private copy in memory: hivex maps a read-only hive, and a tool that rewrites the
    // file in place (as hivex itself commits) would change or truncate it under the reader.
    // hivex opens by name: it is given the name of a file opened safely here (never blocking on
    // a FIFO), and the identity is of that very file. A write needs hivex's own copy (it writes
    // into it); for reading, hivex maps a copy in a memory file, which costs a third of the time
    // of hivex reading the hive into fresh memory.
    files::ReadableFile file;
    if (const files::FileStatus opened = file.open(path_); !opened.ok())
        return fail(HiveStatus::Failed, opened.message);
    const bool forWriting = writeLock_ != nullptr;
    const int copy = forWriting ? -1 : copyIntoMemoryFile(file.fd());
    if (copy >= 0) {
        hive_ = hivex_open(("/proc/self/fd/" + std::to_string(copy)).c_str(), 0);
        const int err = errno;
        ::close(copy);  // hivex holds its own descriptor and mapping
        errno = err;
    } else {
        hive_ = hivex_open(file.reopenPath().c_str(), HIVEX_OPEN_WRITE);
    }
    if (hive_ == nullptr) return fail(HiveStatus::Failed, describeOpenFailure(path_, errno ? errno : EINVAL));
    handleWritable_ = copy < 0;
    identity_ = file.identity();
    const hive_node_h rootHandle = hivex_root(hive_);
    if (rootHandle == 0) {
        const int err = errno;
        closeHandle();
        return fail(HiveStatus::Damaged, describeOpenFailure(path_, err ? err : EINVAL));
    }
    if (nodes_.empty()) {
        Node root;
        if (char* raw = hivex_node_name(hive_, rootHandle)) {
            root.name = utf8ToUtf16(raw).value_or(u"");
            std::free(raw);
        }
        nodes_.push_back(std::move(root));
    }
    for (Node& node : nodes_) {
        node.handle = 0;
        node.childrenLoaded = false;
        node.valuesLoaded = false;
        node.values.clear();
        node.values.shrink_to_fit();
    }
    nodes_[0].handle = rootHandle;
    resolved_.clear();
    resolved_.insert(rootHandle);
    times_.clear();
    cachedValueBytes_ = 0;
    return ok();
}

void HiveModel::closeHandle() {
    if (hive_ != nullptr) hivex_close(hive_);
    hive_ = nullptr;
}

HiveResult HiveModel::rereadFile() {
    HiveResult reopened = openHandle();
    if (!reopened.ok()) {
        // Without a handle every call fails cleanly until the file can be read again.
        for (Node& node : nodes_) node.handle = 0;
    }
    return reopened;
}

HiveResult HiveModel::reopenAfterFailure(const std::string& message) {
    const HiveResult reopened = rereadFile();
    std::string sentence =
        message + std::string(text({" Nothing of the change was kept.", "この変更は何も残していません。"}));
    if (!reopened.ok()) sentence += " " + reopened.message;
    if (batchOpen_ && !batchFailed_) {
        batchFailed_ = true;
        batchFailure_ = sentence;
    }
    return fail(HiveStatus::Failed, sentence);
}

std::string HiveModel::hivexFailure(const Message& what, int err) const {
    return say(what, {path_, std::strerror(err ? err : EIO)});
}

std::string HiveModel::damagedSentence(const Message& damage) const {
    return say({"The hive %1 is damaged: %2.", "ハイブ %1 は壊れています: %2。"}, {path_, text(damage)});
}

std::string HiveModel::cannotWriteTimes(std::string_view why) const {
    return say({"Cannot write the keys' times into %1: %2.", "%1 にキーの更新日時を書き込めません: %2。"},
               {path_, why});
}

HiveResult HiveModel::loadGuard() {
    if (guard_.loaded()) return ok();
    std::string bytes;
    files::FileIdentity read;
    if (const files::FileStatus status = files::readFile(path_, bytes, &read); !status.ok()) {
        return fail(HiveStatus::Failed, status.message);
    }
    if (!identity_ || read != *identity_) {
        return fail(HiveStatus::Failed, say({"The hive %1 changed while it was being written; nothing was written.",
                                             "ハイブ %1 は書き込みの間に変更されました。何も書き込んでいません。"},
                                            {path_}));
    }
    guard_.load(std::move(bytes));
    return ok();
}

HiveResult HiveModel::guardWrite(const std::string& damage) {
    if (damage.empty()) return ok();
    const std::string sentence = say(
        {"The hive %1 is damaged %2; nothing was written.", "ハイブ %1 は壊れています（%2）。何も書き込んでいません。"},
        {path_, damage});
    if (batchOpen_) {
        // hivex has the batch's earlier writes in memory: they are dropped with this one.
        if (!batchFailed_) batchFailure_ = sentence;
        batchFailed_ = true;
        rereadFile();
    }
    return fail(HiveStatus::Damaged, sentence);
}

const std::u16string& HiveModel::name(NodeId key) const {
    static const std::u16string none;
    return key < nodes_.size() ? nodes_[key].name : none;
}

NodeId HiveModel::parent(NodeId key) const {
    return key < nodes_.size() ? nodes_[key].parent : 0;
}

HiveResult HiveModel::live(NodeId key) {
    if (key >= nodes_.size())
        return fail(HiveStatus::NotFound, text({"There is no such key.", "そのキーはありません。"}));
    if (hive_ == nullptr) {
        return fail(
            HiveStatus::Failed,
            say({"Cannot read %1: it could not be reopened.", "%1 を読み込めません: 開き直せませんでした。"}, {path_}));
    }
    // Keys known before a reopen are found again by their path, top down.
    std::vector<NodeId> unresolved;
    for (NodeId at = key; nodes_[at].handle == 0; at = nodes_[at].parent) {
        if (nodes_[at].removed) return fail(HiveStatus::NotFound, keyDeletedSentence());
        unresolved.push_back(at);
    }
    for (auto it = unresolved.rbegin(); it != unresolved.rend(); ++it) {
        const HiveResult loaded = loadChildren(nodes_[*it].parent);
        if (!loaded.ok()) return loaded;
        if (nodes_[*it].removed || nodes_[*it].handle == 0) return fail(HiveStatus::NotFound, keyDeletedSentence());
    }
    return ok();
}

std::optional<std::size_t> HiveModel::childIndex(const Node& parent, std::u16string_view name) const {
    const auto at = std::lower_bound(
        parent.children.begin(), parent.children.end(), name,
        [this](NodeId child, std::u16string_view wanted) { return compareNames(nodes_[child].name, wanted) < 0; });
    if (at == parent.children.end() || compareNames(nodes_[*at].name, name) != 0) return std::nullopt;
    return static_cast<std::size_t>(at - parent.children.begin());
}

HiveResult HiveModel::loadChildren(NodeId key) {
    if (nodes_[key].childrenLoaded) return ok();
    const std::uint64_t handle = nodes_[key].handle;
    errno = 0;
    hive_node_h* kids = hivex_node_children(hive_, handle);
    if (kids == nullptr)
        return fail(HiveStatus::Damaged, hivexFailure({"hivex could not read the subkeys of a key in %1: %2.",
                                                       "hivex は %1 のキーのサブキーを読み込めませんでした: %2。"},
                                                      errno));
    std::size_t count = 0;
    while (kids[count] != 0) ++count;
    if (count > 0 && nodes_[key].depth >= kMaxHiveDepth) {
        std::free(kids);
        return fail(HiveStatus::Damaged, say({"The hive %1 has keys deeper than 512 levels; they are not read.",
                                              "ハイブ %1 には512階層より深いキーがあります。それらは読み込みません。"},
                                             {path_}));
    }

    std::unordered_map<std::u16string, NodeId> previous;
    for (NodeId old : nodes_[key].children) {
        if (!nodes_[old].removed) previous.emplace(foldName(nodes_[old].name), old);
    }
    std::vector<NodeId> children;
    children.reserve(count);
    const std::size_t knownBefore = nodes_.size();
    HiveResult result;
    for (std::size_t i = 0; i < count && result.ok(); ++i) {
        if (resolved_.contains(kids[i])) {
            result = fail(HiveStatus::Damaged,
                          damagedSentence({"a key is listed more than once (its subkey lists loop)",
                                           "同じキーが二度以上載っています（サブキーの一覧が循環しています）"}));
            break;
        }
        char* raw = hivex_node_name(hive_, kids[i]);
        std::optional<std::u16string> name = raw ? utf8ToUtf16(raw) : std::nullopt;
        std::free(raw);
        if (!name) {
            result = fail(HiveStatus::Damaged,
                          damagedSentence({"a key's name cannot be read", "キーの名前を読み込めません"}));
            break;
        }
        NodeId id = 0;
        const auto known = previous.empty() ? previous.end() : previous.find(foldName(*name));
        if (known != previous.end()) {
            id = known->second;
            previous.erase(known);
        } else {
            id = static_cast<NodeId>(nodes_.size());
            Node node;
            node.parent = key;
            node.depth = static_cast<std::uint16_t>(nodes_[key].depth + 1);
            nodes_.push_back(std::move(node));
        }
        nodes_[id].name = std::move(*name);
        nodes_[id].handle = kids[i];
        resolved_.insert(kids[i]);
        children.push_back(id);
    }
    std::free(kids);
    if (!result.ok()) {
        // Undone whole, so that asking again neither sees a false loop nor grows the table.
        for (NodeId id : children) {
            resolved_.erase(nodes_[id].handle);
            nodes_[id].handle = 0;
        }
        nodes_.resize(knownBefore);
        return result;
    }
    for (const auto& [folded, gone] : previous) {
        nodes_[gone].removed = true;
        nodes_[gone].handle = 0;
    }
    std::stable_sort(children.begin(), children.end(),
                     [this](NodeId a, NodeId b) { return compareNames(nodes_[a].name, nodes_[b].name) < 0; });
    nodes_[key].children = std::move(children);
    nodes_[key].childrenLoaded = true;
    return ok();
}

HiveResult HiveModel::loadValues(NodeId key) {
    if (nodes_[key].valuesLoaded) return ok();
    errno = 0;
    hive_value_h* handles = hivex_node_values(hive_, nodes_[key].handle);
    if (handles == nullptr)
        return fail(HiveStatus::Damaged, hivexFailure({"hivex could not read the values of a key in %1: %2.",
                                                       "hivex は %1 のキーの値を読み込めませんでした: %2。"},
                                                      errno));
    const std::size_t budget = identity_ ? identity_->size * 2 + (1u << 20) : (1u << 20);
    std::vector<HiveValue> values;
    std::size_t bytes = 0;
    HiveResult result;
    for (std::size_t i = 0; handles[i] != 0; ++i) {
        HiveValue value;
        char* rawName = hivex_value_key(hive_, handles[i]);
        std::optional<std::u16string> name = rawName ? utf8ToUtf16(rawName) : std::nullopt;
        std::free(rawName);
        hive_type type = hive_t_none;
        std::size_t size = 0;
        errno = 0;
        char* data = name ? hivex_value_value(hive_, handles[i], &type, &size) : nullptr;
        if (data == nullptr) {
            result = fail(HiveStatus::Damaged,
                          name ? hivexFailure({"hivex could not read a value in %1: %2.",
                                               "hivex は %1 の値を読み込めませんでした: %2。"},
                                              errno)
                               : damagedSentence({"a value's name cannot be read", "値の名前を読み込めません"}));
            break;
        }
        bytes += size;
        if (cachedValueBytes_ + bytes > budget) {
            std::free(data);
            result = fail(HiveStatus::Damaged, damagedSentence({"its values claim more data than the file holds",
                                                                "値のデータがファイルの大きさを超えています"}));
            break;
        }
        value.name = std::move(*name);
        value.type = typeNumber(type);
        value.data.assign(reinterpret_cast<const std::uint8_t*>(data),
                          reinterpret_cast<const std::uint8_t*>(data) + size);
        std::free(data);
        values.push_back(std::move(value));
    }
    std::free(handles);
    if (!result.ok()) return result;
    cachedValueBytes_ += bytes;
    nodes_[key].values = std::move(values);
    nodes_[key].valuesLoaded = true;
    return ok();
}

HiveResult HiveModel::findChild(NodeId parent, std::u16string_view name, NodeId& child) {
    HiveResult result = live(parent);
    if (result.ok()) result = loadChildren(parent);
    if (!result.ok()) return result;
    const std::optional<std::size_t> at = childIndex(nodes_[parent], name);
    if (!at) return fail(HiveStatus::NotFound, text({"There is no such key.", "そのキーはありません。"}));
    child = nodes_[parent].children[*at];
    return ok();
}

HiveResult HiveModel::subkeyCount(NodeId key, std::size_t& count) {
    HiveResult result = live(key);
    if (result.ok()) result = loadChildren(key);
    if (result.ok()) count = nodes_[key].children.size();
    return result;
}

HiveResult HiveModel::subkeyAt(NodeId key, std::size_t index, NodeId& child) {
    HiveResult result = live(key);
    if (result.ok()) result = loadChildren(key);
    if (!result.ok()) return result;
    if (index >= nodes_[key].children.size())
        return fail(HiveStatus::NotFound, text({"There are no more subkeys.", "これ以上サブキーはありません。"}));
    child = nodes_[key].children[index];
    return ok();
}

HiveResult HiveModel::valueCount(NodeId key, std::size_t& count) {
    HiveResult result = live(key);
    if (result.ok()) result = loadValues(key);
    if (result.ok()) count = nodes_[key].values.size();
    return result;
}

HiveResult HiveModel::valueAt(NodeId key, std::size_t index, const HiveValue*& value) {
    HiveResult result = live(key);
    if (result.ok()) result = loadValues(key);
    if (!result.ok()) return result;
    if (index >= nodes_[key].values.size())
        return fail(HiveStatus::NotFound, text({"There are no more values.", "これ以上値はありません。"}));
    value = &nodes_[key].values[index];
    return ok();
}

HiveResult HiveModel::findValue(NodeId key, std::u16string_view name, const HiveValue*& value) {
    HiveResult result = live(key);
    if (result.ok()) result = loadValues(key);
    if (!result.ok()) return result;
    for (const HiveValue& candidate : nodes_[key].values) {
        if (compareNames(candidate.name, name) == 0) {
            value = &candidate;
            return ok();
        }
    }
    return fail(HiveStatus::NotFound, noSuchValueSentence());
}

HiveResult HiveModel::reloadIfChanged() {
    if (writeLock_ != nullptr) return ok();  // our own batch: the file is ours until it commits
    if (hive_ != nullptr && files::identityOf(path_) == identity_) return ok();
    return rereadFile();
}

std::string HiveModel::refusedWriteSentence() const {
    if (!readOnlyReason_.empty())
        return readOnlyReason_ + std::string(text({" Nothing was changed.", "何も変更していません。"}));
    return say({"The hive %1 is open read-only; nothing was changed.",
                "ハイブ %1 は読み取り専用で開いています。何も変更していません。"},
               {path_});
}

HiveResult HiveModel::startWrite(NodeId key) {
    if (!writable_) return fail(HiveStatus::ReadOnly, refusedWriteSentence());
    if (batchFailed_) {
        return fail(HiveStatus::Failed,
                    text({"An earlier write of this batch failed, so this one was not made.",
                          "この一連の書き込みの前の書き込みが失敗したため、これは行っていません。"}));
    }
    if (writeLock_ == nullptr) {
        auto lock = std::make_unique<FolderLock>(folderOf(path_));
        if (!lock->locked()) return fail(HiveStatus::Failed, lock->error());
        writeLock_ = std::move(lock);
        // Start from the file as it is now (another program may have saved it since), in a
        // handle hivex can write.
        if (hive_ == nullptr || !handleWritable_ || files::identityOf(path_) != identity_) {
            const HiveResult reread = rereadFile();
            if (!reread.ok()) return reread;
        }
    }
    if (!backupKept_) {
        const std::string backup = path_ + ".tovik-backup";
        if (const files::FileStatus kept = files::copyFileOnce(path_, backup, false); !kept.ok()) {
            return fail(HiveStatus::Failed, say({"Cannot keep a copy of %1 as %2, so nothing was changed. %3",
                                                 "%1 の控えを %2 として残せないため、何も変更していません。%3"},
                                                {path_, backup, kept.message}));
        }
        backupKept_ = true;
    }
    return live(key);
}

HiveResult HiveModel::finishWrite(HiveResult written) {
    if (batchOpen_) {
        if (written.ok()) batchChanged_ = true;
        return written;
    }
    if (written.ok()) written = save();
    writeLock_.reset();
    return written;
}

HiveResult HiveModel::save() {
    // A hive named through a link is written through to the file the link names.
    files::DurableWriter writer(path_);
    files::FileStatus status = writer.open();
    if (status.ok()) {
        errno = 0;
        if (hivex_commit(hive_, writer.fdPath().c_str(), 0) != 0) {
            return reopenAfterFailure(hivexFailure(
                {"hivex could not save the hive in %1: %2.", "hivex は %1 のハイブを保存できませんでした: %2。"},
                errno));
        }
        if (HiveResult timed = writeTimes(writer.fdPath()); !timed.ok()) return reopenAfterFailure(timed.message);
        status = writer.commit();
    }
    if (!status.ok()) return reopenAfterFailure(status.message);
    identity_ = files::identityOf(path_);
    return ok();
}

HiveResult HiveModel::writeTimes(const std::string& newFile) {
    if (times_.empty()) return ok();
    const int fd = ::open(newFile.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return fail(HiveStatus::Failed, cannotWriteTimes(std::strerror(errno)));
    const HiveResult result = writeTimes(fd);
    ::close(fd);
    return result;
}

HiveResult HiveModel::writeTimes(int fd) {
    for (const auto& [handle, time] : times_) {
        // A node handle is the file offset of the key's cell: its size, "nk", the flags, then the
        // time. hivex writes its image as it holds it, so the offsets are those of the new file.
        char mark[2] = {};
        if (::pread(fd, mark, sizeof mark, static_cast<off_t>(handle + 4)) != static_cast<ssize_t>(sizeof mark) ||
            mark[0] != 'n' || mark[1] != 'k') {
            return fail(HiveStatus::Failed,
                        cannotWriteTimes(text({"a key's record moved", "キーのレコードの位置が変わりました"})));
        }
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(time) >> (8 * i));
        if (::pwrite(fd, bytes, sizeof bytes, static_cast<off_t>(handle + 8)) != static_cast<ssize_t>(sizeof bytes)) {
            return fail(HiveStatus::Failed, cannotWriteTimes(std::strerror(errno)));
        }
    }
    return ok();
}

void HiveModel::touch(NodeId key) {
    if (nodes_[key].handle != 0) times_[nodes_[key].handle] = fileTimeNow();
}

HiveResult HiveModel::writeTime(NodeId key, std::int64_t& time) {
    time = 0;
    HiveResult result = live(key);
    if (!result.ok()) return result;
    const std::uint64_t handle = nodes_[key].handle;
    if (const auto set = times_.find(handle); set != times_.end()) {
        time = set->second;
        return ok();
    }
    const std::int64_t stored = hivex_node_timestamp(hive_, handle);
    time = stored > 0 ? stored : 0;
    return ok();
}

void HiveModel::setWriteTime(NodeId key, std::int64_t time) {
    if (key < nodes_.size() && nodes_[key].handle != 0) times_[nodes_[key].handle] = time;
}

HiveResult HiveModel::finishUnchanged() {
    if (!batchOpen_) writeLock_.reset();
    return ok();
}

HiveResult HiveModel::hasClassName(NodeId key, bool& has) {
    has = false;
    HiveResult result = live(key);
    if (!result.ok()) return result;
    const auto unsure = [this] {
        return fail(
            HiveStatus::Refused,
            say({"The class names in %1 cannot be checked now (the hive has unsaved changes or changed "
                 "meanwhile); nothing was changed.",
                 "%1 のクラス名を今は確かめられません（ハイブに保存していない変更があるか、その間に変更されました）。"
                 "何も変更していません。"},
                {path_}));
    };
    if (batchChanged_) return unsure();
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(HiveStatus::Failed,
                    say({"Cannot read %1: %2.", "%1 を読み込めません: %2。"}, {path_, std::strerror(errno)}));
    }
    // A node handle is the file offset of the key's cell: its size, then the nk record.
    unsigned char record[4 + 0x4c] = {};
    struct stat st {};
    const bool same = ::fstat(fd, &st) == 0 && files::identityOf(st) == identity_;
    const ssize_t got = ::pread(fd, record, sizeof record, static_cast<off_t>(nodes_[key].handle));
    ::close(fd);
    if (!same) return unsure();
    if (got != static_cast<ssize_t>(sizeof record) || record[4] != 'n' || record[5] != 'k') {
        return fail(HiveStatus::Damaged,
                    damagedSentence({"a key's record cannot be read", "キーのレコードを読み込めません"}));
    }
    const unsigned char* field = record + 4 + 0x30;  // the class name's cell, then at 0x4a its length
    const std::uint32_t cell =
        field[0] | (field[1] << 8) | (field[2] << 16) | (static_cast<std::uint32_t>(field[3]) << 24);
    const std::uint16_t length = static_cast<std::uint16_t>(record[4 + 0x4a] | (record[4 + 0x4b] << 8));
    has = cell != 0xFFFFFFFF && length != 0;
    return ok();
}

bool HiveModel::exists(NodeId key) {
    return live(key).ok();
}

HiveResult HiveModel::checkKeyName(std::u16string_view name, std::size_t parentDepth) const {
    if (name.empty() || name.size() > kMaxKeyNameLength || name.find(u'\\') != std::u16string_view::npos) {
        return fail(HiveStatus::Refused, text({"A key name must have 1 to 255 characters and no backslash.",
                                               "キーの名前は1～255文字で、\\ を含まないものにしてください。"}));
    }
    if (!isPlainAsciiName(name)) {
        return fail(HiveStatus::Refused,
                    text({"hivex can write key names of printable ASCII characters only: Windows would not find "
                          "other names that hivex writes.",
                          "hivex が書き込めるキーの名前は、表示できるASCII文字だけのものです。hivex "
                          "が書いたそれ以外の名前は、Windowsから見つけられません。"}));
    }
    if (parentDepth >= kMaxHiveDepth) {
        return fail(HiveStatus::Refused,
                    text({"Keys cannot be nested deeper than 512 levels.", "キーは512階層より深くできません。"}));
    }
    return ok();
}

HiveResult HiveModel::createKey(NodeId parent, std::u16string_view name, NodeId& child, std::u16string_view className) {
    if (!className.empty())
        return fail(HiveStatus::Refused, text({"hivex cannot write class names; the key was not created.",
                                               "hivex はクラス名を書き込めないため、キーを作成していません。"}));
    if (HiveResult refused = checkKeyName(name, depth(parent)); !refused.ok()) return refused;
    HiveResult result = startWrite(parent);
    if (result.ok()) result = loadChildren(parent);
    if (result.ok()) {
        if (const std::optional<std::size_t> at = childIndex(nodes_[parent], name)) {
            child = nodes_[parent].children[*at];
            result = fail(HiveStatus::Exists, keyExistsSentence());
        } else {
            const std::string utf8 = *utf16ToUtf8Exact(name);  // plain ASCII converts
            HiveWriteGuard::Change change;
            result = loadGuard();
            if (result.ok()) result = guardWrite(guard_.checkAddChild(nodes_[parent].handle, change));
            errno = 0;
            const hive_node_h handle =
                result.ok() ? hivex_node_add_child(hive_, nodes_[parent].handle, utf8.c_str()) : 0;
            if (result.ok() && handle == 0) {
                result = reopenAfterFailure(hivexFailure(
                    {"hivex could not create a key in %1: %2.", "hivex は %1 にキーを作成できませんでした: %2。"},
                    errno));
            } else if (result.ok()) {
                guard_.apply(change);
                guard_.created(nodes_[parent].handle, handle);
                Node node;
                node.handle = handle;
                node.parent = parent;
                node.depth = static_cast<std::uint16_t>(nodes_[parent].depth + 1);
                node.name = std::u16string(name);
                node.childrenLoaded = true;
                node.valuesLoaded = true;
                child = static_cast<NodeId>(nodes_.size());
                nodes_.push_back(std::move(node));
                resolved_.insert(handle);
                std::vector<NodeId>& children = nodes_[parent].children;
                const auto at = std::lower_bound(children.begin(), children.end(), child, [this](NodeId a, NodeId b) {
                    return compareNames(nodes_[a].name, nodes_[b].name) < 0;
                });
                children.insert(at, child);
                touch(child);
                touch(parent);
            }
        }
    }
    return finishWrite(result);
}

HiveResult HiveModel::writeValues(NodeId key, std::vector<HiveValue> values) {
    // hivex writes every value of the key again, and a value held in the split big-data form of
    // format 1.4 and later goes back as one plain cell, which Windows and other readers reject.
    if (maxValueSize_ == kMaxSingleCellData) {
        for (const HiveValue& held : nodes_[key].values) {
            if (held.data.size() <= kMaxSingleCellData) continue;
            return fail(HiveStatus::Refused,
                        say({"The key holds a value of %1 bytes in the split form of this hive's format, which hivex "
                             "cannot write back: no value of this key can be set, renamed or deleted. Nothing was "
                             "changed.",
                             "このキーには、このハイブの形式で分割して保存された %1 バイトの値があり、hivex "
                             "はそれを書き戻せません。このキーの値は設定も名前の変更も削除もできません。"
                             "何も変更していません。"},
                            {std::to_string(held.data.size())}));
        }
    }
    std::vector<std::string> names;
    names.reserve(values.size());
    std::vector<hive_set_value> set(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        names.push_back(utf16ToUtf8Exact(values[i].name).value_or(std::string()));
        set[i].key = names.back().data();
        setTypeNumber(set[i].t, values[i].type);
        set[i].len = values[i].data.size();
        static std::uint8_t noData = 0;
        set[i].value = reinterpret_cast<char*>(values[i].data.empty() ? &noData : values[i].data.data());
    }
    HiveWriteGuard::Change change;
    HiveResult checked = loadGuard();
    if (checked.ok()) checked = guardWrite(guard_.checkSetValues(nodes_[key].handle, change));
    if (!checked.ok()) return checked;
    errno = 0;
    if (hivex_node_set_values(hive_, nodes_[key].handle, set.size(), set.data(), 0) != 0) {
        return reopenAfterFailure(hivexFailure({"hivex could not write the values of a key in %1: %2.",
                                                "hivex は %1 のキーの値を書き込めませんでした: %2。"},
                                               errno));
    }
    guard_.apply(change);
    nodes_[key].values = std::move(values);
    touch(key);
    return ok();
}

HiveResult HiveModel::setValue(NodeId key, std::u16string_view name, std::uint32_t type, const std::uint8_t* data,
                               std::size_t size) {
    if (size > maxValueSize_) {
        return fail(HiveStatus::Refused,
                    say({"The value has %1 bytes; hivex can write at most %2 bytes to this hive.",
                         "値は %1 バイトあります。hivex がこのハイブに書き込めるのは %2 バイトまでです。"},
                        {std::to_string(size), std::to_string(maxValueSize_)}));
    }
    if (name.size() > kMaxValueNameLength || !utf16ToUtf8Exact(name)) {
        return fail(HiveStatus::Refused, text({"The value name is too long or holds a broken character.",
                                               "値の名前が長すぎるか、壊れた文字を含んでいます。"}));
    }
    HiveResult result = startWrite(key);
    if (result.ok()) result = loadValues(key);
    if (result.ok()) {
        std::vector<HiveValue> values = nodes_[key].values;
        auto same = std::find_if(values.begin(), values.end(),
                                 [name](const HiveValue& value) { return compareNames(value.name, name) == 0; });
        if (same != values.end() && same->type == type && same->data.size() == size &&
            std::equal(same->data.begin(), same->data.end(), data)) {
            return finishUnchanged();  // as Windows and Wine: the key keeps its time
        }
        if (same == values.end()) {
            values.push_back(HiveValue{std::u16string(name), type, {}});
            same = values.end() - 1;
        }
        same->type = type;
        same->data.assign(data, data + size);
        result = writeValues(key, std::move(values));
    }
    return finishWrite(result);
}

HiveResult HiveModel::deleteValue(NodeId key, std::u16string_view name) {
    HiveResult result = startWrite(key);
    if (result.ok()) result = loadValues(key);
    if (result.ok()) {
        std::vector<HiveValue> values = nodes_[key].values;
        const auto same = std::find_if(values.begin(), values.end(),
                                       [name](const HiveValue& value) { return compareNames(value.name, name) == 0; });
        if (same == values.end()) {
            result = fail(HiveStatus::NotFound, noSuchValueSentence());
        } else {
            values.erase(same);
            result = writeValues(key, std::move(values));
        }
    }
    return finishWrite(result);
}

HiveResult HiveModel::replaceValues(NodeId key, std::vector<HiveValue> values) {
    for (const HiveValue& value : values) {
        if (value.data.size() > maxValueSize_) {
            return fail(HiveStatus::Refused,
                        say({"A value has %1 bytes; hivex can write at most %2 bytes to this hive.",
                             "%1 バイトの値があります。hivex がこのハイブに書き込めるのは %2 バイトまでです。"},
                            {std::to_string(value.data.size()), std::to_string(maxValueSize_)}));
        }
        if (value.name.size() > kMaxValueNameLength || !utf16ToUtf8Exact(value.name)) {
            return fail(HiveStatus::Refused, text({"A value name is too long or holds a broken character.",
                                                   "長すぎるか、壊れた文字を含む値の名前があります。"}));
        }
    }
    HiveResult result = startWrite(key);
    if (result.ok()) result = loadValues(key);
    if (result.ok()) result = writeValues(key, std::move(values));
    return finishWrite(result);
}

HiveResult HiveModel::renameValue(NodeId key, std::u16string_view oldName, std::u16string_view newName) {
    if (newName.size() > kMaxValueNameLength || !utf16ToUtf8Exact(newName)) {
        return fail(HiveStatus::Refused, text({"The value name is too long or holds a broken character.",
                                               "値の名前が長すぎるか、壊れた文字を含んでいます。"}));
    }
    HiveResult result = startWrite(key);
    if (result.ok()) result = loadValues(key);
    if (result.ok()) {
        std::vector<HiveValue> values = nodes_[key].values;
        const auto named = [&values](std::u16string_view name) {
            return std::find_if(values.begin(), values.end(),
                                [name](const HiveValue& value) { return compareNames(value.name, name) == 0; });
        };
        const auto old = named(oldName);
        const auto taken = named(newName);
        if (old == values.end()) {
            result = fail(HiveStatus::NotFound, noSuchValueSentence());
        } else if (taken != values.end() && taken != old) {
            result = fail(HiveStatus::Exists,
                          text({"A value of that name exists already.", "その名前の値はすでにあります。"}));
        } else {
            old->name = std::u16string(newName);
            result = writeValues(key, std::move(values));
        }
    }
    return finishWrite(result);
}

HiveResult HiveModel::deleteKey(NodeId key) {
    if (key == root()) {
        return fail(HiveStatus::Refused,
                    text({"The root key of a hive cannot be deleted.", "ハイブのルートキーは削除できません。"}));
    }
    HiveResult result = startWrite(key);
    if (result.ok()) result = loadChildren(key);
    if (result.ok() && !nodes_[key].children.empty()) {
        result = fail(HiveStatus::HasSubkeys,
                      text({"A key with subkeys cannot be deleted.", "サブキーのあるキーは削除できません。"}));
    }
    HiveWriteGuard::Change change;
    if (result.ok()) result = loadGuard();
    if (result.ok()) {
        result = guardWrite(guard_.checkDeleteChild(nodes_[key].handle, nodes_[nodes_[key].parent].handle, change));
    }
    if (result.ok()) {
        errno = 0;
        if (hivex_node_delete_child(hive_, nodes_[key].handle) != 0) {
            result = reopenAfterFailure(hivexFailure(
                {"hivex could not delete a key in %1: %2.", "hivex は %1 のキーを削除できませんでした: %2。"}, errno));
        } else {
            guard_.apply(change);
            times_.erase(nodes_[key].handle);
            touch(nodes_[key].parent);
            resolved_.erase(nodes_[key].handle);
            nodes_[key].handle = 0;
            nodes_[key].removed = true;
            nodes_[key].values.clear();
            std::vector<NodeId>& siblings = nodes_[nodes_[key].parent].children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
        }
    }
    return finishWrite(result);
}

HiveResult HiveModel::setKeySecurity(NodeId, const std::uint8_t*, std::size_t) {
    return fail(HiveStatus::Refused,
                text({"hivex cannot write security descriptors; the key's security was not changed.",
                      "hivex はセキュリティ記述子を書き込めないため、キーのセキュリティは変更していません。"}));
}

HiveResult HiveModel::beginBatch() {
    if (batchOpen_) {
        return fail(HiveStatus::Failed,
                    text({"A batch of writes is open already.", "一連の書き込みがすでに始まっています。"}));
    }
    const HiveResult started = startWrite(root());
    if (!started.ok()) {
        writeLock_.reset();
        return started;
    }
    batchOpen_ = true;
    batchFailed_ = false;
    batchFailure_.clear();
    batchChanged_ = false;
    return ok();
}

void HiveModel::takeOverIds(const std::vector<std::pair<NodeId, NodeId>>& moved) {
    std::unordered_map<NodeId, NodeId> swapped;
    for (const auto& [original, copy] : moved) {
        swapped[original] = copy;
        swapped[copy] = original;
    }
    const auto remap = [&swapped](NodeId id) {
        const auto it = swapped.find(id);
        return it == swapped.end() ? id : it->second;
    };
    std::vector<NodeId> touched;
    for (const auto& [original, copy] : moved) {
        std::swap(nodes_[original], nodes_[copy]);
        touched.push_back(original);
        touched.push_back(copy);
        touched.push_back(nodes_[original].parent);
        touched.push_back(nodes_[copy].parent);
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (NodeId id : touched) {
        Node& node = nodes_[id];
        if (swapped.count(id) != 0) node.parent = remap(node.parent);
        for (NodeId& child : node.children) child = remap(child);
    }
}

void HiveModel::failBatch() {
    if (!batchOpen_) return;
    batchFailed_ = true;
    rereadFile();
}

HiveResult HiveModel::commitBatch() {
    if (!batchOpen_) return ok();
    HiveResult result;
    if (batchFailed_) {
        std::string sentence(text({"A write of this batch failed, so none of its writes were kept.",
                                   "この一連の書き込みの一つが失敗したため、どの書き込みも残していません。"}));
        if (!batchFailure_.empty()) sentence += " " + batchFailure_;
        result = fail(HiveStatus::Failed, sentence);
    } else if (batchChanged_) {
        result = save();
    }
    batchOpen_ = false;
    batchFailed_ = false;
    batchFailure_.clear();
    batchChanged_ = false;
    writeLock_.reset();
    return result;
}

}  // namespace tovik::hive
