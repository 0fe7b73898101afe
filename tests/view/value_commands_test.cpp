// Editing, adding and deleting values from the view: the real value list with scripted editor
// results, tovik-reg writing the same bytes, and one walk through the real dialogs.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <optional>
#include <sstream>

#include "cli/commands.h"
#include "editors/gui/binary_edit_dlg.h"
#include "editors/gui/number_edit_dlg.h"
#include "editors/gui/string_edit_dlg.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "support/registry_fixture.h"
#include "support/scripted_prompts.h"
#include "support/scripted_view.h"
#include "support/tree_helpers.h"
#include "ui/qt_text.h"
#include "view/command_ids.h"
#include "view/key_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/value_commands.h"
#include "view/view_commands.h"

using namespace testing_support;
using ItemId = KeyTreeModel::ItemId;

namespace {

const QString kNotSupported = QString::fromUtf16(u"未サポートです。");
const QString kDeleteQuestion = QString::fromUtf16(u"編集 > 元に戻す で元に戻せます。\nよろしいですか？");
constexpr int kDeleteValue = ID_DELETE_VALUE, kAddDword = ID_ADD_DWORD_VALUE, kAddString = ID_ADD_STRING_VALUE,
              kAddOther = ID_ADD_OTHER_VALUE, kAddMulti = ID_ADD_MULTI_STRING_VALUE, kEditBytes = ID_EDIT_BINARY_DATA;

struct StoredValue {
    std::u16string name;
    DWORD type = 0;
    Bytes data;
};

// Every value of a key, in the registry's order.
std::vector<StoredValue> valuesOf(HKEY root, const std::u16string& path) {
    std::vector<StoredValue> values;
    HKEY key = 0;
    if (RegOpenKeyExW(root, path.c_str(), 0, 0, &key) != ERROR_SUCCESS) return values;
    std::u16string name(kMaxValueNameLength + 1, u'\0');
    Bytes data(16);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
        LONG rc = RegEnumValueW(key, index, name.data(), &length, nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(size);
            length = static_cast<DWORD>(name.size());
            rc = RegEnumValueW(key, index, name.data(), &length, nullptr, &type, data.data(), &size);
        }
        if (rc != ERROR_SUCCESS) break;
        values.push_back({name.substr(0, length), type, Bytes(data.begin(), data.begin() + size)});
    }
    RegCloseKey(key);
    return values;
}

std::optional<StoredValue> valueOf(HKEY root, const std::u16string& path, const std::u16string& name) {
    for (StoredValue& value : valuesOf(root, path))
        if (value.name == name) return value;
    return std::nullopt;
}

Bytes bytes(std::initializer_list<int> list) {
    Bytes out;
    for (int b : list) out.push_back(static_cast<BYTE>(b));
    return out;
}

Bytes withTerminator(std::u16string_view text) {
    Bytes out = stringToBytes(text);
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes pattern(std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<BYTE>(i * 7 + i / 256);
    return out;
}

// What an editor was handed when the command showed it.
struct EditorSeen {
    QString kind;  // "string", "number" or "binary"
    QString name;
    QString data;       // string and binary editors
    QString typeLabel;  // string editor
    LONG number = 0;    // number editor
    DWORD type = 0;     // binary editor
    bool add = false;
};

// Records what the editor was handed, lets change() set its members as the user would, and
// closes it with result.
template <typename Dialog = QDialog>
std::function<int(QDialog&)> editor(EditorSeen* seen, std::function<void(Dialog&)> change = {}, int result = IDOK) {
    return [seen, change, result](QDialog& dialog) {
        if (auto* s = dynamic_cast<CStringEditDlg*>(&dialog)) {
            *seen = {"string", s->m_strName, s->m_strData, s->m_strType, 0, 0, s->m_bAdd};
        } else if (auto* n = dynamic_cast<CNumberEditDlg*>(&dialog)) {
            *seen = {"number", n->m_strName, {}, {}, n->m_nValue, 0, n->m_bAdd};
        } else if (auto* b = dynamic_cast<CBinaryEditDlg*>(&dialog)) {
            *seen = {"binary", b->m_strName, b->m_strData, {}, 0, b->m_dwType, b->m_bAdd};
        }
        if (change) {
            auto* typed = dynamic_cast<Dialog*>(&dialog);
            if (!typed) {
                seen->kind += " (not the editor the test expected)";
                return IDCANCEL;
            }
            change(*typed);
        }
        return result;
    };
}

}  // namespace

Q_DECLARE_METATYPE(Bytes)

class ValueCommandsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<CTovikView> view_;
    ScriptedPrompts* prompts_ = nullptr;
    CTovikDoc doc_;

    void startView(bool scripted = true) {
        prompts_ = nullptr;
        view_ =
            scripted ? testing_support::startScriptedView(doc_, prompts_) : testing_support::startView(doc_, nullptr);
    }
    ItemId itemAt(const QStringList& path) { return testing_support::itemAt(view_->treeModel(), path); }
    void select(const QStringList& path) {
        const ItemId item = itemAt(path);
        QVERIFY(item != KeyTreeModel::kNoItem);
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        view_->selectItem(item);
        QVERIFY(refreshed.wait(2000));
    }
    // The row of the value with this name as the registry holds it ("" for the unnamed value).
    int rowOf(const std::u16string& name) {
        for (int row = 0; row < view_->listModel().valueCount(); ++row)
            if (view_->listModel().rowAt(row).name == name) return row;
        return -1;
    }
    void selectRow(const std::u16string& name) {
        const int row = rowOf(name);
        QVERIFY2(row >= 0, "no row for the value");
        view_->valueList()->selectionModel()->setCurrentIndex(
            view_->listModel().index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QStringList shownNames() {
        QStringList names;
        for (int row = 0; row < view_->listModel().valueCount(); ++row) names << view_->listModel().columnText(row, 0);
        return names;
    }
    // Runs a command; true when it refilled the list through a posted refresh (none during the
    // command itself).
    bool runAndRefill(const std::function<void()>& command) {
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        command();
        if (!refreshed.isEmpty()) return false;
        return refreshed.wait(2000);
    }
    bool runWithoutRefill(const std::function<void()>& command) {
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        command();
        return !refreshed.wait(200);
    }

private slots:
    void init() {
        FreshRegistry();
        doc_.OnNewDocument();
    }
    void cleanup() { view_.reset(); }

    // Each type opens its editor with the row's name and data; OK unchanged writes the data
    // back in the type's form, under the same name and type.
    void editOpensTheEditorOfTheTypeAndWritesBack_data() {
        QTest::addColumn<uint>("type");
        QTest::addColumn<Bytes>("stored");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("handed");  // data text, or the number as signed decimal
        QTest::addColumn<Bytes>("written");

        QTest::newRow("SZ with terminator") << uint(REG_SZ) << withTerminator(u"abc") << "string"
                                            << "REG_SZ"
                                            << "abc" << stringToBytes(u"abc");
        QTest::newRow("EXPAND_SZ") << uint(REG_EXPAND_SZ) << withTerminator(u"%windir%\\a.exe") << "string"
                                   << "REG_EXPAND_SZ"
                                   << "%windir%\\a.exe" << stringToBytes(u"%windir%\\a.exe");
        QTest::newRow("MULTI_SZ a|b||") << uint(REG_MULTI_SZ) << bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}) << "string"
                                        << "REG_MULTI_SZ"
                                        << "a|b||" << bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0});
        QTest::newRow("DWORD -1(FFFFFFFF)") << uint(REG_DWORD) << bytes({0xFF, 0xFF, 0xFF, 0xFF}) << "number"
                                            << ""
                                            << "-1" << bytes({0xFF, 0xFF, 0xFF, 0xFF});
        QTest::newRow("DWORD of two bytes") << uint(REG_DWORD) << bytes({0x34, 0x12}) << "number"
                                            << ""
                                            << "4660" << bytes({0x34, 0x12, 0, 0});
        QTest::newRow("NONE empty") << uint(REG_NONE) << Bytes{} << "binary"
                                    << ""
                                    << "" << Bytes{};
        QTest::newRow("BINARY") << uint(REG_BINARY) << bytes({0x0A, 0x0B}) << "binary"
                                << ""
                                << "0A 0B " << bytes({0x0A, 0x0B});
        QTest::newRow("DWORD_BIG_ENDIAN") << uint(REG_DWORD_BIG_ENDIAN) << bytes({0, 0, 1, 0}) << "binary"
                                          << ""
                                          << "00 00 01 00 " << bytes({0, 0, 1, 0});
        QTest::newRow("LINK") << uint(REG_LINK) << bytes({0x5C, 0}) << "binary"
                              << ""
                              << "5C 00 " << bytes({0x5C, 0});
        QTest::newRow("RESOURCE_LIST") << uint(REG_RESOURCE_LIST) << bytes({1, 0, 0xFF}) << "binary"
                                       << ""
                                       << "01 00 FF " << bytes({1, 0, 0xFF});
    }
    void editOpensTheEditorOfTheTypeAndWritesBack() {
        QFETCH(uint, type);
        QFETCH(Bytes, stored);
        QFETCH(QString, kind);
        QFETCH(QString, label);
        QFETCH(QString, handed);
        QFETCH(Bytes, written);
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"Other", REG_SZ, stringToBytes(u"o"));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"Val", type, stored);
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"Val");
        EditorSeen seen;
        prompts_->dialogs.push_back(editor(&seen));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));

        QCOMPARE(seen.kind, kind);
        QCOMPARE(seen.name, QString("Val"));
        QVERIFY(!seen.add);
        if (kind == "string") {
            QCOMPARE(seen.typeLabel, label);
            QCOMPARE(seen.data, handed);
        } else if (kind == "number") {
            QCOMPARE(QString::number(seen.number), handed);
        } else {
            QCOMPARE(seen.data, handed);
            QCOMPARE(seen.type, DWORD(type));
        }
        const std::optional<StoredValue> value = valueOf(HKEY_LOCAL_MACHINE, u"K", u"Val");
        QVERIFY(value);
        QCOMPARE(value->type, DWORD(type));
        QCOMPARE(value->data, written);
        QCOMPARE(valuesOf(HKEY_LOCAL_MACHINE, u"K").size(), std::size_t(2));
        QCOMPARE(shownNames(), QStringList({"Other", "Val"}));
        QCOMPARE(view_->selectedRow(), -1);
        QVERIFY(doc_.isModified());
    }

    void binaryTextsWriteTheirBytes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Bytes>("written");
        QTest::newRow("two spaces give a zero byte") << "0A  0B" << bytes({0x0A, 0x00, 0x0B});
        QTest::newRow("empty text, no data") << "" << Bytes{};
    }
    void binaryTextsWriteTheirBytes() {
        QFETCH(QString, text);
        QFETCH(Bytes, written);
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"b", REG_BINARY, bytes({0x0A, 0x0B}));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"b");
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CBinaryEditDlg>(&seen, [text](CBinaryEditDlg& d) { d.m_strData = text; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        const std::optional<StoredValue> value = valueOf(HKEY_LOCAL_MACHINE, u"K", u"b");
        QCOMPARE(value->type, DWORD(REG_BINARY));
        QCOMPARE(value->data, written);
    }

    void typesAboveEightAreNotEdited() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"nine", 9, bytes({1}));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"big", 0x12345, bytes({2}));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        for (const std::u16string name : {u"nine", u"big"}) {
            selectRow(name);
            QVERIFY(runWithoutRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        }
        QCOMPARE(prompts_->messages, QStringList({kNotSupported, kNotSupported}));
        QCOMPARE(prompts_->dialogCount, 0);
        QVERIFY(!doc_.isModified());
    }

    // バイナリデータの変更: any value's bytes in the binary editor, written back under its own type,
    // the types a double tap refuses among them.
    void binaryDataChangeKeepsEveryType_data() {
        QTest::addColumn<uint>("type");
        QTest::addColumn<Bytes>("stored");
        QTest::addColumn<QString>("handed");
        QTest::newRow("QWORD") << uint(REG_QWORD) << bytes({1, 0, 0, 0, 0, 0, 0, 0}) << "01 00 00 00 00 00 00 00 ";
        QTest::newRow("device property string") << uint(0xFFFF0012u) << bytes({'a', 0, 0, 0}) << "61 00 00 00 ";
        QTest::newRow("type 9") << uint(REG_FULL_RESOURCE_DESCRIPTOR) << Bytes{} << "";
        QTest::newRow("SZ as bytes") << uint(REG_SZ) << withTerminator(u"ab") << "61 00 62 00 00 00 ";
        QTest::newRow("DWORD as bytes") << uint(REG_DWORD) << bytes({4, 3, 2, 1}) << "04 03 02 01 ";
    }
    void binaryDataChangeKeepsEveryType() {
        QFETCH(uint, type);
        QFETCH(Bytes, stored);
        QFETCH(QString, handed);
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"v", type, stored);
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"v");
        QVERIFY(view_->isCommandEnabled(kEditBytes));
        EditorSeen seen;
        prompts_->dialogs.push_back(
            editor<CBinaryEditDlg>(&seen, [](CBinaryEditDlg& d) { d.m_strData = "FF 00 00 00 00 00 00 80 "; }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kEditBytes); }));
        QCOMPARE(seen.kind, QString("binary"));
        QCOMPARE(seen.name, QString("v"));
        QCOMPARE(seen.data, handed);
        QCOMPARE(seen.type, DWORD(type));
        QVERIFY(!seen.add);
        const std::optional<StoredValue> value = valueOf(HKEY_LOCAL_MACHINE, u"K", u"v");
        QVERIFY(value);
        QCOMPARE(value->type, DWORD(type));
        QCOMPARE(value->data, bytes({0xFF, 0, 0, 0, 0, 0, 0, 0x80}));
        QVERIFY(doc_.isModified());
        // A double tap on a type above 8 still refuses it.
        if (!isSupportedType(type)) {
            selectRow(u"v");
            QVERIFY(runWithoutRefill([&] { view_->commands().values().OnDblClkValueList(); }));
            QCOMPARE(prompts_->messages, QStringList({kNotSupported}));
        }
    }

    void cancelWritesNothing() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"s", REG_SZ, withTerminator(u"keep"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"s");
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CStringEditDlg>(
            &seen, [](CStringEditDlg& d) { d.m_strData = "changed"; }, IDCANCEL));
        QVERIFY(runWithoutRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        prompts_->dialogs.push_back(editor<CStringEditDlg>(
            &seen, [](CStringEditDlg& d) { d.m_strName = "new"; }, IDCANCEL));
        QVERIFY(runWithoutRefill([&] { view_->OnCommand(kAddString); }));
        QCOMPARE(prompts_->dialogCount, 2);
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"s")->data, withTerminator(u"keep"));
        QCOMPARE(valuesOf(HKEY_LOCAL_MACHINE, u"K").size(), std::size_t(1));
        QVERIFY(!doc_.isModified());
    }

    void doubleTapWithoutASelectedRowDoesNothing() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"s", REG_SZ, withTerminator(u"x"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        QVERIFY(runWithoutRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(prompts_->dialogCount, 0);
        QVERIFY(prompts_->messages.isEmpty());
    }

    void theAtRowIsTheUnnamedValue() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"", REG_SZ, withTerminator(u"old"));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"z", REG_SZ, withTerminator(u"zz"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        QCOMPARE(shownNames(), QStringList({"@", "z"}));
        selectRow(u"");
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) { d.m_strData = "new"; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(seen.name, QString("@"));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"")->data, stringToBytes(u"new"));
        QVERIFY(!valueOf(HKEY_LOCAL_MACHINE, u"K", u"@"));

        selectRow(u"");
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDeleteValue(); }));
        QVERIFY(!valueOf(HKEY_LOCAL_MACHINE, u"K", u""));
        QVERIFY(valueOf(HKEY_LOCAL_MACHINE, u"K", u"z"));
        QCOMPARE(shownNames(), QStringList({"z"}));
    }

    // A value really named "@" lists like the unnamed one; each row still edits and deletes its
    // own value.
    void aValueNamedAtIsNotTakenForTheUnnamedValue() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"", REG_DWORD, dwordToBytes(1));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"@", REG_DWORD, dwordToBytes(2));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        QCOMPARE(shownNames(), QStringList({"@", "@"}));
        selectRow(u"@");
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CNumberEditDlg>(&seen, [](CNumberEditDlg& d) { d.m_nValue = 20; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(seen.name, QString("@"));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"@")->data, dwordToBytes(20));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"")->data, dwordToBytes(1));

        selectRow(u"@");
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDeleteValue(); }));
        QVERIFY(!valueOf(HKEY_LOCAL_MACHINE, u"K", u"@"));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"")->data, dwordToBytes(1));
    }

    void renamingWritesUnderTheNewNameAndKeepsTheOld() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"A", REG_DWORD, dwordToBytes(1));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"B", REG_DWORD, dwordToBytes(2));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"bin", REG_BINARY, bytes({0xAB}));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"A");
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CNumberEditDlg>(&seen, [](CNumberEditDlg& d) {
            d.m_strName = "B";
            d.m_nValue = 5;
        }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"A")->data, dwordToBytes(1));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"B")->data, dwordToBytes(5));

        selectRow(u"A");
        prompts_->dialogs.push_back(editor<CNumberEditDlg>(&seen, [](CNumberEditDlg& d) { d.m_strName = "C"; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(shownNames(), QStringList({"A", "B", "bin", "C"}));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"C")->data, dwordToBytes(1));

        // Renamed to "@", a value is written as the unnamed value, with the row's type.
        selectRow(u"bin");
        prompts_->dialogs.push_back(editor<CBinaryEditDlg>(&seen, [](CBinaryEditDlg& d) { d.m_strName = "@"; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        const std::optional<StoredValue> unnamed = valueOf(HKEY_LOCAL_MACHINE, u"K", u"");
        QVERIFY(unnamed);
        QCOMPARE(unnamed->type, DWORD(REG_BINARY));
        QCOMPARE(unnamed->data, bytes({0xAB}));
        QVERIFY(valueOf(HKEY_LOCAL_MACHINE, u"K", u"bin"));
        QVERIFY(!valueOf(HKEY_LOCAL_MACHINE, u"K", u"@"));
    }

    void addCommandsWriteTheirTypes() {
        MakeKey(HKEY_LOCAL_MACHINE, u"K");
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"m", REG_SZ, withTerminator(u"will be overwritten"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        EditorSeen seen;

        prompts_->dialogs.push_back(editor<CNumberEditDlg>(&seen, [](CNumberEditDlg& d) {
            d.m_strName = "Timeout";
            d.m_nValue = 260;
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddDword); }));
        QCOMPARE(seen.kind, QString("number"));
        QVERIFY(seen.add);
        QCOMPARE(seen.name, QString());
        QCOMPARE(seen.number, LONG(0));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"Timeout")->type, DWORD(REG_DWORD));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"Timeout")->data, bytes({0x04, 0x01, 0, 0}));

        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) {
            d.m_strName = "s";
            d.m_strData = "hi";
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddString); }));
        QCOMPARE(seen.kind, QString("string"));
        QVERIFY(seen.add);
        QCOMPARE(seen.typeLabel, QString("REG_SZ"));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"s")->type, DWORD(REG_SZ));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"s")->data, stringToBytes(u"hi"));

        // Multi-strings: "|" for each zero unit, no terminator added. An existing value of the
        // name is overwritten without a question.
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) {
            d.m_strName = "m";
            d.m_strData = "x|y";
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddMulti); }));
        QCOMPARE(seen.typeLabel, QString("REG_MULTI_SZ"));
        QVERIFY(seen.add);
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"m")->type, DWORD(REG_MULTI_SZ));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"m")->data, bytes({'x', 0, 0, 0, 'y', 0}));
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) {
            d.m_strName = "m";
            d.m_strData = "x|y||";
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddMulti); }));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"m")->data, bytes({'x', 0, 0, 0, 'y', 0, 0, 0, 0, 0}));

        // Another type: the binary editor starts with no type; its text is hex bytes whatever
        // type is chosen, REG_MULTI_SZ too.
        prompts_->dialogs.push_back(editor<CBinaryEditDlg>(&seen, [](CBinaryEditDlg& d) {
            d.m_strName = "o";
            d.m_strData = "41 00 ";
            d.m_dwType = REG_MULTI_SZ;
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddOther); }));
        QCOMPARE(seen.kind, QString("binary"));
        QVERIFY(seen.add);
        QCOMPARE(seen.type, kNoBinaryType);
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"o")->type, DWORD(REG_MULTI_SZ));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"o")->data, bytes({0x41, 0x00}));

        QVERIFY(prompts_->messages.isEmpty());
        QCOMPARE(shownNames(), QStringList({"m", "o", "s", "Timeout"}));
        QVERIFY(doc_.isModified());
    }

    // The add commands write under the name as typed: "@" gives a value of that name, and the
    // unnamed value stays as it was.
    void addingUnderAtWritesTheTypedName() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"", REG_SZ, withTerminator(u"old"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) {
            d.m_strName = "@";
            d.m_strData = "new";
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddString); }));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"")->data, withTerminator(u"old"));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"@")->data, stringToBytes(u"new"));
        QCOMPARE(shownNames(), QStringList({"@", "@"}));
    }

    void deleteAsksFirst() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"a", REG_SZ, withTerminator(u"1"));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"b", REG_SZ, withTerminator(u"2"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"a");
        prompts_->answers.push_back(IDNO);
        QVERIFY(runWithoutRefill([&] { view_->OnCommand(kDeleteValue); }));
        QCOMPARE(prompts_->messages, QStringList({kDeleteQuestion}));
        QCOMPARE(valuesOf(HKEY_LOCAL_MACHINE, u"K").size(), std::size_t(2));
        QCOMPARE(view_->selectedRow(), rowOf(u"a"));
        QVERIFY(!doc_.isModified());

        prompts_->answers.push_back(IDYES);
        QVERIFY(runAndRefill([&] { view_->OnCommand(kDeleteValue); }));
        QVERIFY(!valueOf(HKEY_LOCAL_MACHINE, u"K", u"a"));
        QVERIFY(valueOf(HKEY_LOCAL_MACHINE, u"K", u"b"));
        QCOMPARE(shownNames(), QStringList({"b"}));
        QVERIFY(doc_.isModified());

        // Without a selected row the question is asked for nothing.
        QVERIFY(runWithoutRefill([&] { view_->commands().values().OnDeleteValue(); }));
        QCOMPARE(prompts_->messages.size(), 3);
        QVERIFY(valueOf(HKEY_LOCAL_MACHINE, u"K", u"b"));
    }

    void enablingRules() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"v", REG_SZ, withTerminator(u"x"));
        startView();
        auto enabled = [&] {
            QString states;
            for (int id : {kDeleteValue, kAddDword, kAddString, kAddOther, kAddMulti, kEditBytes})
                states += view_->isCommandEnabled(id) ? '1' : '0';
            return states;
        };
        QCOMPARE(enabled(), QString("000010"));  // before any key: only Add REG_MULTI_SZ
        select({"HKEY_LOCAL_MACHINE"});
        QCOMPARE(enabled(), QString("000010"));
        select({"HKEY_LOCAL_MACHINE", "K"});
        QCOMPARE(enabled(), QString("011110"));
        selectRow(u"v");
        QCOMPARE(enabled(), QString("111111"));
    }

    void addMultiStringUnderARootWritesIntoTheRoot() {
        startView();
        select({"HKEY_CURRENT_USER"});
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) {
            d.m_strName = "AtRoot";
            d.m_strData = "a||";
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddMulti); }));
        QCOMPARE(valueOf(HKEY_CURRENT_USER, u"", u"AtRoot")->data, bytes({'a', 0, 0, 0, 0, 0}));
        QCOMPARE(shownNames(), QStringList({"AtRoot"}));
    }

    void addMultiStringBeforeAnyKeyWritesNothing() {
        startView();
        QVERIFY(view_->isCommandEnabled(kAddMulti));
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) {
            d.m_strName = "Nowhere";
            d.m_strData = "x||";
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddMulti); }));
        QCOMPARE(prompts_->dialogCount, 1);
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            QVERIFY(valuesOf(root, u"").empty());
        QCOMPARE(view_->listModel().valueCount(), 0);
    }

    // Names and data longer than a row's text: the editor gets them whole, and OK writes them
    // whole, under the same name.
    void largeValuesReachTheEditorsWhole_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("5,000 bytes") << 5000;
        QTest::newRow("100,000 bytes") << 100000;
    }
    void largeValuesReachTheEditorsWhole() {
        QFETCH(int, size);
        const std::u16string longName = u"Long" + std::u16string(2000, u'n') + u"End";
        const Bytes data = pattern(static_cast<std::size_t>(size));
        SetValue(HKEY_LOCAL_MACHINE, u"K", longName, REG_BINARY, data);
        const std::u16string text(static_cast<std::size_t>(size) / 2, u'x');
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"str", REG_SZ, withTerminator(text));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});

        selectRow(longName);
        EditorSeen seen;
        prompts_->dialogs.push_back(editor(&seen));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(seen.name.size(), qsizetype(longName.size()));
        QCOMPARE(seen.data, toQString(BytesToHexText(data.data(), data.size())));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", longName)->data, data);
        QCOMPARE(valuesOf(HKEY_LOCAL_MACHINE, u"K").size(), std::size_t(2));

        selectRow(u"str");
        prompts_->dialogs.push_back(editor(&seen));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(seen.data, toQString(text));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"str")->data, stringToBytes(text));

        // Typed or pasted into the binary editor when adding: more than 4096 bytes go in whole.
        const Bytes added = pattern(static_cast<std::size_t>(size) + 1);
        prompts_->dialogs.push_back(editor<CBinaryEditDlg>(&seen, [&added](CBinaryEditDlg& d) {
            d.m_strName = "added";
            d.m_strData = toQString(BytesToHexText(added.data(), added.size()));
            d.m_dwType = REG_RESOURCE_LIST;
        }));
        QVERIFY(runAndRefill([&] { view_->OnCommand(kAddOther); }));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"added")->data, added);
    }

    // Another program deleted the value after the list was filled: OK writes what the user
    // confirmed. Once the key itself is gone, nothing is written and the list empties.
    void editingAfterTheValueOrKeyWentAway() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"v", REG_SZ, withTerminator(u"old"));
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"v");
        HKEY key = 0;
        QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, 0, &key), ERROR_SUCCESS);
        QCOMPARE(RegDeleteValueW(key, u"v"), ERROR_SUCCESS);
        RegCloseKey(key);
        EditorSeen seen;
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) { d.m_strData = "new"; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QCOMPARE(seen.data, QString("old"));
        QCOMPARE(valueOf(HKEY_LOCAL_MACHINE, u"K", u"v")->data, stringToBytes(u"new"));
        QCOMPARE(shownNames(), QStringList({"v"}));

        selectRow(u"v");
        QVERIFY(deleteKeyTree(HKEY_LOCAL_MACHINE, u"K"));
        prompts_->dialogs.push_back(editor<CStringEditDlg>(&seen, [](CStringEditDlg& d) { d.m_strData = "newer"; }));
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));
        QVERIFY(!keyExists(HKEY_LOCAL_MACHINE, u"K"));
        QCOMPARE(view_->listModel().valueCount(), 0);
    }

    // The editors and tovik-reg set build a value's data from its text form the same way.
    void theCommandLineWritesTheSameBytes_data() {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<uint>("type");
        QTest::addColumn<QString>("text");
        QTest::newRow("SZ") << "SZ" << uint(REG_SZ) << QString::fromUtf16(u"シリアル ポート 1");
        QTest::newRow("MLT") << "MLT" << uint(REG_MULTI_SZ) << "a|b||";
        QTest::newRow("MLT without terminators") << "MLT" << uint(REG_MULTI_SZ) << "x|y";
        QTest::newRow("DW negative") << "DW" << uint(REG_DWORD) << "-1(FFFFFFFF)";
        QTest::newRow("BIN") << "BIN" << uint(REG_BINARY) << "0A 0B ";
        QTest::newRow("RSC") << "RSC" << uint(REG_RESOURCE_LIST) << "01 00 ff";
    }
    void theCommandLineWritesTheSameBytes() {
        QFETCH(QString, tag);
        QFETCH(uint, type);
        QFETCH(QString, text);
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"gui", type, Bytes{});
        startView();
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"gui");
        EditorSeen seen;
        prompts_->dialogs.push_back([text](QDialog& dialog) {
            if (auto* s = dynamic_cast<CStringEditDlg*>(&dialog)) s->m_strData = text;
            if (auto* n = dynamic_cast<CNumberEditDlg*>(&dialog)) n->m_nValue = text.section('(', 0, 0).toInt();
            if (auto* b = dynamic_cast<CBinaryEditDlg*>(&dialog)) b->m_strData = text;
            return IDOK;
        });
        QVERIFY(runAndRefill([&] { view_->commands().values().OnDblClkValueList(); }));

        const QByteArray tagUtf8 = tag.toUtf8(), textUtf8 = text.toUtf8();
        const std::vector<std::string_view> args = {"set", "HKLM\\K", "cli", tagUtf8.constData(), textUtf8.constData()};
        const tovik::cli::ParsedCommandLine parsed = tovik::cli::parseCommandLine(args);
        QVERIFY(std::holds_alternative<tovik::cli::Command>(parsed));
        std::ostringstream out, err;
        QCOMPARE(tovik::cli::runCommand(std::get<tovik::cli::Command>(parsed), out, err), 0);

        const std::optional<StoredValue> gui = valueOf(HKEY_LOCAL_MACHINE, u"K", u"gui");
        const std::optional<StoredValue> cli = valueOf(HKEY_LOCAL_MACHINE, u"K", u"cli");
        QVERIFY(gui && cli);
        QCOMPARE(gui->type, DWORD(type));
        QCOMPARE(cli->type, DWORD(type));
        QCOMPARE(gui->data, cli->data);
        view_->FillValueList();
        const int guiRow = rowOf(u"gui"), cliRow = rowOf(u"cli");
        QVERIFY(guiRow >= 0 && cliRow >= 0);
        QCOMPARE(view_->listModel().columnText(guiRow, 2), view_->listModel().columnText(cliRow, 2));
    }

    void keysEditAndDelete() {
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"a", REG_SZ, withTerminator(u"1"));
        SetValue(HKEY_LOCAL_MACHINE, u"K", u"b", REG_SZ, withTerminator(u"2"));
        startView();
        view_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view_.get()));
        select({"HKEY_LOCAL_MACHINE", "K"});
        selectRow(u"a");
        view_->valueList()->setFocus();
        EditorSeen seen;
        prompts_->dialogs.push_back(editor(&seen, {}, IDCANCEL));
        QTest::keyClick(view_->valueList(), Qt::Key_Return);
        QCOMPARE(prompts_->dialogCount, 1);
        QCOMPARE(seen.name, QString("a"));

        QVERIFY(runAndRefill([&] { QTest::keyClick(view_->valueList(), Qt::Key_Delete); }));
        QCOMPARE(prompts_->messages, QStringList({kDeleteQuestion}));
        QVERIFY(!valueOf(HKEY_LOCAL_MACHINE, u"K", u"a"));

        // No row selected after the refill: Delete in the list asks nothing.
        QTest::keyClick(view_->valueList(), Qt::Key_Delete);
        QCOMPARE(prompts_->messages.size(), 1);

        // In the tree, Delete deletes the key, but never a root.
        view_->keyTree()->setFocus();
        prompts_->answers.push_back(IDNO);
        QTest::keyClick(view_->keyTree(), Qt::Key_Delete);
        QCOMPARE(prompts_->messages.size(), 2);
        QCOMPARE(prompts_->messages.last(), KeyCommands::deleteKeyQuestion("K"));
        select({"HKEY_LOCAL_MACHINE"});
        view_->keyTree()->setFocus();
        QTest::keyClick(view_->keyTree(), Qt::Key_Delete);
        QCOMPARE(prompts_->messages.size(), 2);
        QVERIFY(keyExists(HKEY_LOCAL_MACHINE, u"K"));
    }

    // The whole road with real dialogs: tap a key, double-tap a row, change the number with the
    // keypad, OK; the list shows what the registry now holds.
    void editingWithTheRealEditorAndItsKeypad() {
        SetValue(HKEY_CURRENT_USER, u"Software\\Demo", u"Count", REG_DWORD, dwordToBytes(255));
        SetValue(HKEY_CURRENT_USER, u"Software\\Demo", u"Title", REG_SZ, withTerminator(u"t"));
        startView(false);
        const ItemId demo = itemAt({"HKEY_CURRENT_USER", "Software", "Demo"});
        view_->keyTree()->expandAll();
        const QRect keyRect = view_->keyTree()->visualRect(view_->treeModel().indexOf(demo));
        QVERIFY(keyRect.isValid());
        QSignalSpy refreshed(view_.get(), &CTovikView::valuesRefreshed);
        QTest::mouseClick(view_->keyTree()->viewport(), Qt::LeftButton, {}, keyRect.center());
        QVERIFY(refreshed.wait(2000));
        QVERIFY(view_->currentKeyPath() == u"Software\\Demo");
        QCOMPARE(view_->listModel().columnText(rowOf(u"Count"), 2), QString("255(FF)"));

        QString shownDecimal, hexAfterTaps;
        bool sawEditor = false;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<CNumberEditDlg*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            poll.stop();
            sawEditor = true;
            shownDecimal = dialog->m_editDec->text();
            auto tap = [dialog](const QString& text) {
                for (QPushButton* button : dialog->findChildren<QPushButton*>())
                    if (button->text() == text) QTest::mouseClick(button, Qt::LeftButton);
            };
            for (const char* key : {"BS", "BS", "BS", "4", "2"}) tap(QString::fromLatin1(key));
            hexAfterTaps = dialog->m_editHex->text();
            tap("OK");
        });
        poll.start();
        const QRect rowRect = view_->valueList()->visualRect(view_->listModel().index(rowOf(u"Count"), 0));
        refreshed.clear();
        QTest::mouseClick(view_->valueList()->viewport(), Qt::LeftButton, {}, rowRect.center());
        QTest::mouseDClick(view_->valueList()->viewport(), Qt::LeftButton, {}, rowRect.center());
        QVERIFY(sawEditor);
        QCOMPARE(shownDecimal, QString("255"));
        QCOMPARE(hexAfterTaps.toUInt(nullptr, 16), 42u);
        QVERIFY(refreshed.wait(2000));
        QCOMPARE(valueOf(HKEY_CURRENT_USER, u"Software\\Demo", u"Count")->data, dwordToBytes(42));
        QCOMPARE(view_->listModel().columnText(rowOf(u"Count"), 2), QString("42(2A)"));
        QVERIFY(doc_.isModified());
    }
};

QTEST_MAIN(ValueCommandsTest)
#include "value_commands_test.moc"
