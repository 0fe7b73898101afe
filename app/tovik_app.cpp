#include "app/tovik_app.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "stores/open_store.h"
#include "ui/prompts.h"
#include "ui/store_texts.h"
#include "ui/translated.h"
#include "view/backup_commands.h"
#include "view/navigation_commands.h"
#include "view/tovik_doc.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"

CTovikApp::CTovikApp(tovik::RegistrySource source) : m_source(std::move(source)), m_instance(instanceNameOf(m_source)) {
    connect(&m_instance, &SingleInstance::activationRequested, this, &CTovikApp::bringToFront);
    // Queued: the import's confirmation runs an event loop, never inside the socket's handler.
    connect(&m_instance, &SingleInstance::importRequested, this, &CTovikApp::importWhenIdle, Qt::QueuedConnection);
}

CTovikApp::~CTovikApp() = default;

bool CTovikApp::initInstance() {
    // One copy runs per registry; another registry (a prefix, hive files) opens beside it.
    // The running copy resolves the file's name from its own folder, so it gets the full path.
    const QString handOver = m_fileToImport.isEmpty() ? QString() : QFileInfo(m_fileToImport).absoluteFilePath();
    if (!m_instance.acquire(handOver)) {  // the running copy has been brought to the front
        m_otherCopyRuns = true;
        m_fileHandedOver = !handOver.isEmpty() && m_instance.reachedRunningCopy();
        return false;
    }

    const tovik::StoreOpenResult store = tovik::openRegistry(m_source);
    if (!store.ok) {
        QMessageBox::critical(nullptr, appCaption(), storeText(store.error));
        return false;
    }

    m_pDocument = std::make_unique<CTovikDoc>();
    m_pDocument->OnNewDocument();
    m_pMainWnd = std::make_unique<CMainFrame>(m_pDocument.get());
    CTovikView* view = m_pMainWnd->view();
    if (m_prompts) view->setPrompts(std::move(m_prompts));
    connect(m_pMainWnd.get(), &CMainFrame::aboutRequested, this, &CTovikApp::OnAppAbout);
    m_pMainWnd->showRegistryLocation(QString::fromLocal8Bit(store.location), store.readOnly, m_registryName);

    // The view lays its controls out from its client area, so the frame gets its size first.
    m_pMainWnd->resize(kFrameWidth, kFrameHeight);
    m_pMainWnd->layout()->activate();
    view->OnInitialUpdate();
    m_pMainWnd->navigation()->restoreLastKey();

    m_pMainWnd->show();
    m_pMainWnd->repaint();
    QApplication::processEvents();  // the tree is painted before the caution appears

    view->prompts().messageBox(m_pMainWnd.get(), startupCautionText(), MessageButtons::Ok);
    if (const QString notices = openNoticesText(store); !notices.isEmpty())
        view->prompts().messageBox(m_pMainWnd.get(), notices, MessageButtons::Ok);
    // A file named on the command line (opened from a file manager): its import, with its
    // confirmation, once the event loop runs.
    if (!m_fileToImport.isEmpty())
        QMetaObject::invokeMethod(
            view, [view, file = m_fileToImport] { view->commands().backup().importFile(file); }, Qt::QueuedConnection);
    return true;
}

void CTovikApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainWnd.get());
    m_pMainWnd->view()->prompts().DoModal(dialog);
}

void CTovikApp::importWhenIdle(const QString& fileName) {
    if (!m_pMainWnd) return;
    // A message or an import already open here is answered first; the file waits its turn.
    if (QApplication::activeModalWidget() != nullptr) {
        QTimer::singleShot(300, this, [this, fileName] { importWhenIdle(fileName); });
        return;
    }
    m_pMainWnd->view()->commands().backup().importFile(fileName);
}

void CTovikApp::bringToFront() {
    if (!m_pMainWnd) return;
    m_pMainWnd->showNormal();
    m_pMainWnd->raise();
    m_pMainWnd->activateWindow();
}

QStringList japaneseFontFamilies() {
    return {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"), QStringLiteral("Source Han Sans JP"),
            QStringLiteral("IPAexGothic"),      QStringLiteral("IPAPGothic"),   QStringLiteral("IPAGothic"),
            QStringLiteral("TakaoPGothic"),     QStringLiteral("VL PGothic"),   QStringLiteral("Droid Sans Japanese")};
}

QFont interfaceFont(const QFont& desktop, const QStringList& installedFamilies) {
    QFont font = desktop;
    for (const QString& family : japaneseFontFamilies()) {
        if (installedFamilies.contains(family)) {
            font.setFamilies({family});
            break;
        }
    }
    return font;
}

void applyInterfaceFont() {
    QApplication::setFont(interfaceFont(QApplication::font(), QFontDatabase::families()));
}

QString startupCautionText() {
    return Tovik::tr("十分注意して使用してください。キーを消す前にはエクスポートしておいてください。");
}

QString readOnlyNoticeText(const std::string& reason) {
    QString text = Tovik::tr("このレジストリは読み取り専用で開きました。変更は保存できません。");
    if (!reason.empty()) text += QStringLiteral("\n\n") + storeText(reason);
    return text;
}

QString openNoticesText(const tovik::StoreOpenResult& store) {
    QStringList paragraphs;
    // The read-only reason is often one of the notices too (a hive Windows left unfinished): it
    // is said once, in the notices.
    const bool reasonInNotices =
        std::find(store.notices.begin(), store.notices.end(), store.readOnlyReason) != store.notices.end();
    if (store.readOnly) paragraphs << readOnlyNoticeText(reasonInNotices ? std::string() : store.readOnlyReason);
    if (const QString notices = storeNoticesText(store.notices); !notices.isEmpty()) paragraphs << notices;
    return paragraphs.join(QStringLiteral("\n\n"));
}

QString instanceNameOf(const tovik::RegistrySource& source) {
    if (source.kind == tovik::RegistrySource::Kind::UserStore) return QStringLiteral("Harnet");
    // Another registry gets its own copy: a digest of what names it, so that any path fits a
    // socket name, and two spellings of one folder name the same copy.
    QCryptographicHash digest(QCryptographicHash::Sha1);
    digest.addData(QByteArray::number(static_cast<int>(source.kind)));
    for (const std::string* part : {&source.path, &source.userHive, &source.mountAs}) {
        std::error_code ec;
        const std::string absolute =
            part->empty() ? std::string() : std::filesystem::absolute(*part, ec).lexically_normal().string();
        digest.addData(QByteArray::fromStdString(absolute + '\0'));
    }
    return QStringLiteral("Harnet-") + QString::fromLatin1(digest.result().toHex().left(16));
}
