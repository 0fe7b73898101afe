#include "view/compare_commands.h"

#include "compare/reg_file_tree.h"
#include "regfile/reg_text.h"
#include "registry/key_path.h"
#include "registry/registry_store.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/command_support.h"
#include "view/compare_dlg.h"
#include "view/compare_result_dlg.h"
#include "view/tovik_view.h"

CompareCommands::CompareCommands(CTovikView& view) : QObject(&view), m_view(view) {}

void CompareCommands::OnCompare() {
    CCompareDlg dialog(toQString(tovik::fullKeyPath(m_view.currentRoot(), m_view.currentKeyPath())), &m_view);
    if (m_view.prompts().DoModal(dialog) != QDialog::Accepted) return;
    CompareTarget target;
    if (!dialog.target(target)) {
        showMessage(m_view, Tovik::tr("キーのパスが正しくありません。"));
        return;
    }
    compareWith(target);
}

CCompareResultDlg* CompareCommands::compareWith(const CompareTarget& target) {
    CompareSource a;
    a.side = tovik::CompareSide{tovik::currentBackend(), m_view.currentRoot(), m_view.currentKeyPath()};
    a.label = toQString(tovik::fullKeyPath(a.side.root, a.side.path));
    a.writable = a.side.backend != nullptr && !a.side.backend->readOnly();
    CompareSource b;
    b.side.root = target.root;
    b.side.path = target.path;
    const QString key = toQString(tovik::fullKeyPath(target.root, target.path));
    if (target.kind == CompareTarget::Kind::ThisRegistry) {
        b.side.backend = tovik::currentBackend();
        b.label = key;
        b.writable = a.writable;
    } else {
        QString error;
        b.owned = m_open ? m_open(target, error) : nullptr;
        if (!b.owned) {
            showMessage(m_view, error.isEmpty() ? Tovik::tr("比較する相手を開けませんでした。") : error);
            return nullptr;
        }
        if (target.kind == CompareTarget::Kind::RegFile) {
            const std::optional<tovik::RegFileText> text = tovik::readRegFileAt(localFileName(target.location));
            if (!text || !tovik::readRegFileTree(text->text, *b.owned).ok()) {
                showMessage(m_view, Tovik::tr("登録ファイルを読み込めませんでした。"));
                return nullptr;
            }
        }
        if (target.kind == CompareTarget::Kind::BackupFile) {
            const std::optional<tovik::BackupFileLines> file = tovik::readBackupFileAt(localFileName(target.location));
            const tovik::ImportOutcome read = file && !file->notUnicode
                                                  ? tovik::readBackupFileTree(file->lines, *b.owned)
                                                  : tovik::ImportOutcome::NotUnicode;
            if (read != tovik::ImportOutcome::Finished && read != tovik::ImportOutcome::BrokenLine) {
                showMessage(m_view, Tovik::tr("バックアップファイルを読み込めませんでした。"));
                return nullptr;
            }
        }
        b.side.backend = b.owned.get();
        b.label = target.location + QStringLiteral(": ") + key;
        // A file is read into memory: writing there would change nothing the user has.
        const bool readIntoMemory =
            target.kind == CompareTarget::Kind::RegFile || target.kind == CompareTarget::Kind::BackupFile;
        b.writable = !readIntoMemory && !b.owned->readOnly();
    }
    if (!a.side.backend) return nullptr;
    if (m_result) m_result->close();
    auto* result = new CCompareResultDlg(std::move(a), std::move(b), m_view.prompts(), &m_view);
    result->setAttribute(Qt::WA_DeleteOnClose);
    result->setWindowFlag(Qt::Window);
    connect(result, &CCompareResultDlg::keyActivated, this,
            [this](HKEY root, const std::u16string& path, const std::u16string& name, bool onSideA) {
                // Only side A is this registry; a key only in B goes to the nearest key A has.
                std::u16string at = path;
                while (!m_view.goToKey(root, at, name.empty() || !onSideA ? std::nullopt : std::optional(name))) {
                    const std::size_t cut = at.rfind(u'\\');
                    if (at.empty()) break;
                    at = cut == std::u16string::npos ? std::u16string() : at.substr(0, cut);
                }
            });
    const bool bIsThisRegistry = target.kind == CompareTarget::Kind::ThisRegistry;
    connect(result, &CCompareResultDlg::applied, this, [this, bIsThisRegistry](bool toB) {
        // Side A is the registry the main window shows, and side B too when it is this registry.
        if (!toB || bIsThisRegistry) m_view.OnRefresh();
    });
    if (!result->compare()) {
        delete result;
        return nullptr;
    }
    m_result = result;
    result->show();
    return result;
}

CCompareResultDlg* CompareCommands::resultDialog() const {
    return m_result;
}
