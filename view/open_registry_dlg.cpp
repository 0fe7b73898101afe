#include "view/open_registry_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "discover/config_files.h"
#include "ui/prompts.h"
#include "ui/qt_text.h"
#include "ui/translated.h"

namespace {

enum FoundColumn { NameColumn, KindColumn, ChangedColumn, StateColumn };

// A list of two-line rows (name over folder) that fits a portrait screen: the name column takes
// what the short columns leave, and a long folder loses its middle.
QTreeWidget* makeRegistryList(QWidget* parent, const QStringList& headers) {
    auto* list = new QTreeWidget(parent);
    list->setColumnCount(static_cast<int>(headers.size()));
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->setTextElideMode(Qt::ElideMiddle);
    list->setWordWrap(false);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    list->header()->setMinimumSectionSize(20);
    return list;
}

QString folderText(const std::string& folder) {
    return QFile::decodeName(QByteArray::fromStdString(folder));
}

// The home folder as ~, which leaves the part that tells prefixes apart in a narrow column.
QString shortFolder(const QString& folder, const QString& home) {
    if (home.isEmpty() || home == QLatin1String("/")) return folder;
    const QString prefix = home.endsWith(QLatin1Char('/')) ? home : home + QLatin1Char('/');
    return folder.startsWith(prefix) ? QStringLiteral("~/") + folder.mid(prefix.size()) : folder;
}

QString rowText(const QString& name, const QString& folder) {
    return folder.isEmpty() ? name : name + QLatin1Char('\n') + folder;
}

// How the recent list names an entry that has no name of its own.
QString shownName(const RegistryRequest& request) {
    if (!request.name.isEmpty()) return request.name;
    if (request.kind == RegistryRequest::Kind::UserStore) return QStringLiteral("Tovik");
    const QString file = QFileInfo(request.path).fileName();
    return file.isEmpty() ? request.path : file;
}

QString shownKind(const RegistryRequest& request) {
    if (!request.kindLabel.isEmpty()) return request.kindLabel;
    switch (request.kind) {
    case RegistryRequest::Kind::UserStore:
    case RegistryRequest::Kind::StoreFile: return QStringLiteral("Tovik");
    case RegistryRequest::Kind::WinePrefix: return QStringLiteral("Wine");
    case RegistryRequest::Kind::Windows: return QStringLiteral("Windows");
    case RegistryRequest::Kind::Hive: return Tovik::tr("ハイブ");
    }
    return {};
}

QString shownFolder(const RegistryRequest& request) {
    if (request.kind == RegistryRequest::Kind::Hive) return request.path + QStringLiteral(" → ") + request.mountAs;
    return request.path;
}

}  // namespace

COpenRegistryDlg::COpenRegistryDlg(ViewPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_prompts(prompts), m_feed(new FoundRegistryFeed(this)) {
    setObjectName(QStringLiteral("COpenRegistryDlg"));
    setWindowTitle(Tovik::tr("レジストリを開く"));
    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    m_tabs->addTab(makeFoundPage(), Tovik::tr("見つかったもの"));
    m_tabs->addTab(makeRecentPage(), Tovik::tr("最近開いたもの"));
    m_tabs->addTab(makeOtherPage(), Tovik::tr("その他のフォルダーやファイル"));
    m_tabs->setUsesScrollButtons(true);
    layout->addWidget(m_tabs);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_open = new QPushButton(Tovik::tr("開く"), this);
    m_open->setDefault(true);
    auto* cancel = new QPushButton(Tovik::tr("キャンセル"), this);
    buttons->addWidget(m_open);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(m_open, &QPushButton::clicked, this, &COpenRegistryDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    connect(m_feed, &FoundRegistryFeed::found, this, &COpenRegistryDlg::addFound);
    connect(m_feed, &FoundRegistryFeed::finished, this, [this] {
        m_searching = false;
        showFoundState();
    });
    resize(kDialogMaxWidth, 520);
}

QWidget* COpenRegistryDlg::makeFoundPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    m_foundList = makeRegistryList(
        page, {Tovik::tr("名前とフォルダー"), Tovik::tr("種類"), Tovik::tr("変更日"), Tovik::tr("状態")});
    m_foundList->setObjectName(QStringLiteral("foundList"));
    m_foundState = new QLabel(page);
    m_foundState->setObjectName(QStringLiteral("foundState"));
    m_foundState->setWordWrap(true);
    layout->addWidget(m_foundList);
    layout->addWidget(m_foundState);
    connect(m_foundList, &QTreeWidget::itemDoubleClicked, this, &COpenRegistryDlg::accept);
    showFoundState();
    return page;
}

QWidget* COpenRegistryDlg::makeRecentPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    m_recentList = makeRegistryList(page, {Tovik::tr("名前とフォルダー"), Tovik::tr("種類")});
    m_recentList->setObjectName(QStringLiteral("recentList"));
    layout->addWidget(m_recentList);
    connect(m_recentList, &QTreeWidget::itemDoubleClicked, this, &COpenRegistryDlg::accept);
    return page;
}

QWidget* COpenRegistryDlg::makeOtherPage() {
    auto* page = new QWidget(this);
    auto* form = new QFormLayout(page);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);  // labels above their fields: a narrow screen
    m_otherKind = new QComboBox(page);
    m_otherKind->addItems({Tovik::tr("Wine プレフィックス（フォルダー）"),
                           Tovik::tr("Windows フォルダー（System32\\config を含むフォルダー）"),
                           Tovik::tr("ハイブファイル（1 つ）"), Tovik::tr("Tovik のレジストリファイル")});
    m_otherKind->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_otherKind->setMinimumContentsLength(16);
    form->addRow(Tovik::tr("種類:"), m_otherKind);

    auto pathRow = [page](QLineEdit*& edit, QPushButton*& browse) {
        auto* row = new QHBoxLayout;
        edit = new QLineEdit(page);
        browse = new QPushButton(Tovik::tr("参照..."), page);
        row->addWidget(edit, 1);
        row->addWidget(browse);
        return row;
    };
    QPushButton* browsePath = nullptr;
    form->addRow(Tovik::tr("場所:"), pathRow(m_otherPath, browsePath));
    m_otherPath->setObjectName(QStringLiteral("otherPath"));
    m_otherUserLabel = new QLabel(Tovik::tr("ユーザーの NTUSER.DAT（省略可）:"), page);
    form->addRow(m_otherUserLabel, pathRow(m_otherUser, m_otherUserBrowse));
    m_otherKeyLabel = new QLabel(Tovik::tr("表示するキー（例: HKLM\\SOFTWARE）:"), page);
    m_otherKey = new QLineEdit(page);
    form->addRow(m_otherKeyLabel, m_otherKey);
    m_otherWrite = new QCheckBox(Tovik::tr("変更を許可する（ハイブファイルに書き込む）"), page);
    form->addRow(m_otherWrite);

    connect(m_otherKind, &QComboBox::currentIndexChanged, this, &COpenRegistryDlg::showOtherKind);
    connect(browsePath, &QPushButton::clicked, this, &COpenRegistryDlg::browseOtherPath);
    connect(m_otherUserBrowse, &QPushButton::clicked, this, &COpenRegistryDlg::browseUserHive);
    showOtherKind();
    return page;
}

void COpenRegistryDlg::showOtherKind() {
    const int kind = m_otherKind->currentIndex();
    for (QWidget* widget : {static_cast<QWidget*>(m_otherUserLabel), static_cast<QWidget*>(m_otherUser),
                            static_cast<QWidget*>(m_otherUserBrowse)})
        widget->setVisible(kind == OtherWindows);
    m_otherKeyLabel->setVisible(kind == OtherHive);
    m_otherKey->setVisible(kind == OtherHive);
    m_otherWrite->setVisible(kind == OtherWindows || kind == OtherHive);
}

void COpenRegistryDlg::browseOtherPath() {
    const int kind = m_otherKind->currentIndex();
    const QString chosen = kind == OtherHive ? m_prompts.openFileName(this, Tovik::tr("全て(*.*)"))
                           : kind == OtherStore
                               ? m_prompts.openFileName(this, Tovik::tr("Tovik のレジストリ(*.db);;全て(*.*)"))
                               : m_prompts.existingFolder(this);
    if (!chosen.isEmpty()) m_otherPath->setText(chosen);
}

void COpenRegistryDlg::browseUserHive() {
    const QString chosen = m_prompts.openFileName(this, Tovik::tr("NTUSER.DAT(NTUSER.DAT ntuser.dat);;全て(*.*)"));
    if (!chosen.isEmpty()) m_otherUser->setText(chosen);
}

void COpenRegistryDlg::setRecent(const QList<RegistryRequest>& recent) {
    m_recent = recent;
    m_recentList->clear();
    for (const RegistryRequest& request : m_recent) {
        auto* item = new QTreeWidgetItem(m_recentList);
        item->setText(NameColumn, rowText(shownName(request), shortFolder(shownFolder(request), m_home)));
        item->setToolTip(NameColumn, rowText(shownName(request), shownFolder(request)));
        item->setText(KindColumn, shownKind(request));
    }
    if (m_recentList->topLevelItemCount() > 0) m_recentList->setCurrentItem(m_recentList->topLevelItem(0));
}

void COpenRegistryDlg::startDiscovery(DiscoverFunction discover, tovik::discover::UserFolders folders) {
    m_searching = true;
    m_home = folderText(folders.home);
    showFoundState();
    m_feed->start(std::move(discover), std::move(folders));
}

bool COpenRegistryDlg::discoveryFinished() const {
    return m_feed->isFinished();
}

void COpenRegistryDlg::addFound(const tovik::discover::FoundRegistry& found) {
    m_found.push_back(requestOfFound(found));
    auto* item = new QTreeWidgetItem(m_foundList);
    const QString folder = folderText(found.folder);
    item->setText(NameColumn, rowText(toQString(found.name), shortFolder(folder, m_home)));
    item->setText(KindColumn, kindLabelOf(found.kind));
    QString tip = rowText(toQString(found.name), folder);
    if (found.changedAt) {
        const QDateTime changed = QDateTime::fromSecsSinceEpoch(*found.changedAt);
        item->setText(ChangedColumn, changed.toString(QStringLiteral("yyyy-MM-dd")));
        tip += QLatin1Char('\n') + Tovik::tr("変更日時: %1").arg(changed.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    }
    if (found.readOnly) {
        item->setText(StateColumn, Tovik::tr("実行中"));
        tip += QLatin1Char('\n') + Tovik::tr("Wine が実行中です。読み取り専用で開きます。");
    }
    for (int column = 0; column < m_foundList->columnCount(); ++column) item->setToolTip(column, tip);
    if (m_foundList->currentItem() == nullptr) m_foundList->setCurrentItem(item);
    showFoundState();
}

void COpenRegistryDlg::showFoundState() {
    const int count = m_foundList->topLevelItemCount();
    if (m_searching) {
        m_foundState->setText(Tovik::tr("探しています… %1 件").arg(count));
    } else if (count == 0) {
        m_foundState->setText(Tovik::tr("見つかりませんでした。「その他のフォルダーやファイル」から開けます。"));
    } else {
        m_foundState->setText(Tovik::tr("%1 件見つかりました。").arg(count));
    }
}

std::optional<RegistryRequest> COpenRegistryDlg::otherRequest() {
    const int kind = m_otherKind->currentIndex();
    const QString path = m_otherPath->text().trimmed();
    if (path.isEmpty()) {
        m_prompts.messageBox(this, Tovik::tr("開くフォルダーまたはファイルを指定してください。"), MessageButtons::Ok);
        return std::nullopt;
    }
    const QFileInfo info(path);
    RegistryRequest request;
    request.path = info.absoluteFilePath();
    const bool wantsFolder = kind == OtherWinePrefix || kind == OtherWindows;
    // A Tovik registry file that does not exist yet is made on open, as tovik-reg --registry does.
    const bool mayBeMissing = kind == OtherStore;
    if ((!mayBeMissing && !info.exists()) || (info.exists() && info.isDir() != wantsFolder)) {
        m_prompts.messageBox(
            this,
            (wantsFolder ? Tovik::tr("%1 はフォルダーではありません。") : Tovik::tr("%1 はファイルではありません。"))
                .arg(path),
            MessageButtons::Ok);
        return std::nullopt;
    }
    switch (kind) {
    case OtherWinePrefix:
        if (!tovik::discover::isWinePrefix(QFile::encodeName(request.path).toStdString())) {
            m_prompts.messageBox(
                this,
                Tovik::tr("%1 は Wine プレフィックスではありません（system.reg も user.reg もありません）。").arg(path),
                MessageButtons::Ok);
            return std::nullopt;
        }
        request.kind = RegistryRequest::Kind::WinePrefix;
        request.kindLabel = QStringLiteral("Wine");
        break;
    case OtherWindows:
        request.kind = RegistryRequest::Kind::Windows;
        request.kindLabel = QStringLiteral("Windows");
        if (!m_otherUser->text().trimmed().isEmpty())
            request.userHive = QFileInfo(m_otherUser->text().trimmed()).absoluteFilePath();
        request.writable = m_otherWrite->isChecked();
        break;
    case OtherHive:
        request.kind = RegistryRequest::Kind::Hive;
        request.mountAs = m_otherKey->text().trimmed();
        if (request.mountAs.isEmpty()) {
            m_prompts.messageBox(this, Tovik::tr("ハイブを表示するキーを指定してください（例: HKLM\\SOFTWARE）。"),
                                 MessageButtons::Ok);
            return std::nullopt;
        }
        request.writable = m_otherWrite->isChecked();
        break;
    default:
        request.kind = RegistryRequest::Kind::StoreFile;
        request.kindLabel = QStringLiteral("Tovik");
        break;
    }
    return request;
}

void COpenRegistryDlg::accept() {
    std::optional<RegistryRequest> chosen;
    const auto rowOf = [](QTreeWidget* list) {
        QTreeWidgetItem* item = list->currentItem();
        return item ? list->indexOfTopLevelItem(item) : -1;
    };
    switch (m_tabs->currentIndex()) {
    case FoundPage:
        if (const int row = rowOf(m_foundList); row >= 0 && row < static_cast<int>(m_found.size()))
            chosen = m_found[static_cast<std::size_t>(row)];
        break;
    case RecentPage:
        if (const int row = rowOf(m_recentList); row >= 0 && row < m_recent.size()) chosen = m_recent[row];
        break;
    default:
        chosen = otherRequest();
        if (!chosen) return;  // the message said what is missing
        break;
    }
    if (!chosen) return;  // no row selected: stays open
    m_chosen = std::move(chosen);
    QDialog::accept();
}
