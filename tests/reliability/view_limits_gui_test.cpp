// The GUI at the limits: the tree filled with a chain 512 levels deep of 255-character names
// (with the main thread's stack cut to a little), the editors opened on values of 1 MiB and
// closed with OK through their real widgets, an export whose file stops growing part-way, and a
// store whose key tree loops back on itself: the tree fill and the delete stop and say so.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "backup/backup_export.h"
#include "editors/gui/binary_edit_dlg.h"
#include "editors/gui/string_edit_dlg.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "ui/qt_text.h"
#include "view/command_ids.h"
#include "view/key_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/value_commands.h"
#include "view/view_commands.h"

using namespace reliability;
using ItemId = KeyTreeModel::ItemId;

namespace {

std::u16string deepName(int level) {
    std::u16string name = Ascii(std::to_string(level));
    name.insert(0, static_cast<std::size_t>(kMaxKeyNameLength) - name.size(), u'g');
    return name;
}

void set(const std::u16string& path, const char16_t* name, DWORD type, const Bytes& data) {
    HKEY key = 0;
    DWORD disposition = 0;
    QCOMPARE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}

ItemId childNamed(const KeyTreeModel& model, ItemId parent, const QString& text) {
    for (ItemId child : model.children(parent)) {
        if (model.itemText(child) == text) return child;
    }
    return KeyTreeModel::kNoItem;
}

// Opens the editor of the value's row through the real dialog and presses its OK button.
// edit, when given, changes the data edit's text first.
template <class Dialog>
std::function<int(QDialog&)> pressOk(qsizetype* shownLength, std::function<void(QPlainTextEdit&)> edit = {}) {
    return [shownLength, edit](QDialog& dialog) {
        auto& editor = static_cast<Dialog&>(dialog);
        int result = IDCANCEL;
        QTimer::singleShot(0, &editor, [&] {
            *shownLength = editor.m_editData->toPlainText().size();
            if (edit) edit(*editor.m_editData);
            QTest::mouseClick(editor.m_btnOk, Qt::LeftButton);
        });
        result = editor.DoModal();
        return result;
    };
}

}  // namespace

class ViewLimitsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    CTovikDoc doc_;

    void startView() { view_ = testing_support::startScriptedView(doc_, prompts_); }
    void selectRow(const std::u16string& path, const QString& name) {
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, path));
        view_->FillValueList();
        for (int row = 0; row < view_->listModel().valueCount(); ++row) {
            if (toQString(view_->listModel().rowAt(row).name) == name) {
                view_->valueList()->setCurrentIndex(view_->valueList()->model()->index(row, 0));
                return;
            }
        }
        QFAIL("no such row");
    }

private slots:
    void init() { tovik::openInMemoryRegistryStore(); }
    void cleanup() {
        view_.reset();
        tovik::closeRegistryStore();
    }

    void aLoopedTreeIsFilledOnceAndItsDeleteStopsAndSaysSo() {
        TempDir dir;
        const std::string store = dir.File("registry.db");
        QVERIFY(MakeLoopedStore(store));
        QVERIFY(tovik::openRegistryStore(store).ok);
        startView();
        QCOMPARE(prompts_->messages, QStringList{toQString(CTovikView::kTreeLoopsMessage)});

        ItemId kept = KeyTreeModel::kNoItem;
        for (ItemId root : view_->treeModel().children(KeyTreeModel::kRootItem)) {
            if (view_->treeModel().itemData(root) == HKEY_LOCAL_MACHINE)
                kept = childNamed(view_->treeModel(), childNamed(view_->treeModel(), root, "Software"), "Kept");
        }
        QVERIFY(kept != KeyTreeModel::kNoItem);
        view_->selectItem(kept);
        prompts_->answers.push_back(IDYES);
        QVERIFY(view_->OnCommand(ID_DELETE_KEY));
        QCOMPARE(prompts_->messages.size(), 3);  // the tree's notice, the question, then why it stopped
        QCOMPARE(prompts_->messages.last(), toQString(KeyCommands::kDeleteLoopsMessage));
        // The key stays, in the registry and in the tree.
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Kept", 0, 0, &key), ERROR_SUCCESS);
        RegCloseKey(key);
        QVERIFY(view_->treeModel().isValid(kept));
    }

    void treeFillAndDeleteAtDepth512() {
        std::u16string path = u"Deep";
        for (int level = 2; level <= kMaxKeyDepth; ++level) path += u"\\" + deepName(level);
        set(path, u"bottom", REG_DWORD, dwordToBytes(512));
        startView();

        // The whole chain is in the tree, and its last item names the deepest key.
        ItemId item = KeyTreeModel::kNoItem;
        for (ItemId root : view_->treeModel().children(KeyTreeModel::kRootItem)) {
            if (view_->treeModel().itemData(root) == HKEY_LOCAL_MACHINE) item = root;
        }
        item = childNamed(view_->treeModel(), item, QStringLiteral("Deep"));
        const ItemId top = item;
        for (int level = 2; level <= kMaxKeyDepth && item != KeyTreeModel::kNoItem; ++level) {
            item = childNamed(view_->treeModel(), item, toQString(deepName(level)));
        }
        QVERIFY(item != KeyTreeModel::kNoItem);
        QVERIFY(view_->treeModel().children(item).empty());
        HKEY root = 0;
        std::u16string itemPath;
        view_->GetItemKeyPath(item, &root, &itemPath);
        QCOMPARE(root, HKEY_LOCAL_MACHINE);
        QVERIFY(itemPath == path);

        // Deleting the top of the chain removes all of it, from the registry and the tree.
        view_->selectItem(top);
        QVERIFY(view_->currentKeyPath() == u"Deep");
        prompts_->answers.push_back(IDYES);
        QVERIFY(view_->OnCommand(ID_DELETE_KEY));
        QVERIFY(!view_->treeModel().isValid(top));
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Deep", 0, 0, &key), ERROR_FILE_NOT_FOUND);
    }

    void editorsCarryOneMebibyteWhole() {
        constexpr std::size_t kSize = 1 << 20;
        Bytes binary(kSize);
        for (std::size_t i = 0; i < kSize; ++i) binary[i] = static_cast<BYTE>(i * 13 + (i >> 10));
        std::u16string text(kSize / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(u'a' + i % 26);
        std::u16string multi = text;
        for (std::size_t i = 100; i < multi.size(); i += 100) multi[i] = u'|';
        multi[multi.size() - 1] = multi[multi.size() - 2] = u'|';
        set(u"Big", u"binary", REG_BINARY, binary);
        set(u"Big", u"string", REG_SZ, stringToBytes(text));
        set(u"Big", u"multi", REG_MULTI_SZ, TextToMultiSz(multi));
        startView();

        qsizetype shown = 0;
        selectRow(u"Big", QStringLiteral("binary"));
        prompts_->dialogs.push_back(pressOk<CBinaryEditDlg>(&shown));
        view_->commands().values().OnDblClkValueList();
        QCOMPARE(shown, static_cast<qsizetype>(3 * kSize));
        QVERIFY(ReadValue(HKEY_LOCAL_MACHINE, u"Big", u"binary")->data == binary);

        selectRow(u"Big", QStringLiteral("string"));
        prompts_->dialogs.push_back(pressOk<CStringEditDlg>(&shown));
        view_->commands().values().OnDblClkValueList();
        QCOMPARE(shown, static_cast<qsizetype>(text.size()));
        QVERIFY(ReadValue(HKEY_LOCAL_MACHINE, u"Big", u"string")->data == stringToBytes(text));

        selectRow(u"Big", QStringLiteral("multi"));
        prompts_->dialogs.push_back(pressOk<CStringEditDlg>(&shown));
        view_->commands().values().OnDblClkValueList();
        QVERIFY(ReadValue(HKEY_LOCAL_MACHINE, u"Big", u"multi")->data == TextToMultiSz(multi));

        // An edit at the very end of the megabyte is kept too.
        selectRow(u"Big", QStringLiteral("binary"));
        prompts_->dialogs.push_back(pressOk<CBinaryEditDlg>(&shown, [](QPlainTextEdit& edit) {
            edit.moveCursor(QTextCursor::End);
            edit.insertPlainText(QStringLiteral("7F "));
        }));
        view_->commands().values().OnDblClkValueList();
        Bytes longer = binary;
        longer.push_back(0x7F);
        QVERIFY(ReadValue(HKEY_LOCAL_MACHINE, u"Big", u"binary")->data == longer);
    }

    void exportWhoseFileStopsGrowingShowsTheErrorAndKeepsTheTarget() {
        Bytes data(10240);
        for (int i = 0; i < 200; ++i) {
            for (std::size_t b = 0; b < data.size(); ++b) data[b] = static_cast<BYTE>(i + b);
            set(u"Export", (u"v" + Ascii(std::to_string(i))).c_str(), REG_BINARY, data);
        }
        startView();
        TempDir dir;
        const std::string target = dir.File("backup.txt");
        const Bytes previous{0xFF, 0xFE, 'o', 0, 'l', 0, 'd', 0};
        WriteFileBytes(target, previous);

        // The process may write no file beyond 64 KiB for the moment: writes past it fail.
        struct rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit limited = saved;
        limited.rlim_cur = 64 * 1024;
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        QVERIFY(view_->goToKey(HKEY_LOCAL_MACHINE, u"Export"));
        prompts_->fileNames.push_back(QString::fromStdString(target));
        QVERIFY(view_->OnCommand(ID_EXPORT));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);

        QCOMPARE(prompts_->messages, QStringList{toQString(tovik::kExportWriteFailedMessage)});
        QVERIFY(ReadFileBytes(target) == previous);
        QCOMPARE(FolderEntries(dir.path()), std::vector<std::string>{"backup.txt"});
    }
};

int main(int argc, char** argv) {
    // The tree is filled by the GUI thread: its stack is cut to what a deep walk may need, so that
    // a walk that spends much stack per level fails here rather than on a user's machine.
    struct rlimit stack {};
    ::getrlimit(RLIMIT_STACK, &stack);
    stack.rlim_cur = (TimeScale() > 1 ? 8 : 1) * 1024 * 1024;
    ::setrlimit(RLIMIT_STACK, &stack);
    QApplication app(argc, argv);
    ViewLimitsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "view_limits_gui_test.moc"
