#include "app/tovik_app.h"

#include <QApplication>
#include <QCryptographicHash>
#include <algorithm>
#include <filesystem>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QFileInfo>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "view/navigation_commands.h"
#include "view/tovik_doc.h"
#include "view/backup_commands.h"
#include "view/tovik_view.h"
#include "view/view_commands.h"
#include "ui/prompts.h"
#include "stores/open_store.h"
#include "ui/store_texts.h"
#include "ui/translated.h"

CTovikApp::CTovikApp(tovik::RegistrySource source)
    : m_source(std::move(source)), m_instance(InstanceNameOf(m_source)) {
    connect(&m_instance, &SingleInstance::activationRequested, this, &CTovikApp::bringToFront);
    // Queued: the import's confirmation runs an event loop, never inside the socket's handler.
    connect(&m_instance, &SingleInstance::importRequested, this, &CTovikApp::importWhenIdle, Qt::QueuedConnection);
}

CTovikApp::~CTovikApp() = default;

bool CTovikApp::InitInstance() {
    // One copy runs per registry; another registry (a prefix, hive files) opens beside it.
    // The running copy resolves the file's name from its own folder, so it gets the full path.
    const QString handOver = m_fileToImport.isEmpty() ? QString() : QFileInfo(m_fileToImport).absoluteFilePath();
    if (!m_instance.Acquire(handOver)) {  // the running copy has been brought to the front
        m_otherCopyRuns = true;
        m_fileHandedOver = !handOver.isEmpty() && m_instance.ReachedRunningCopy();
        return false;
    }

    const tovik::StoreOpenResult store = tovik::OpenRegistry(m_source);
    if (!store.ok) {
        QMessageBox::critical(nullptr, AppCaption(), StoreText(store.error));
        return false;
    }

    m_pDocument = std::make_unique<CTovikDoc>();
    m_pDocument->OnNewDocument();
    m_pMainWnd = std::make_unique<CMainFrame>(m_pDocument.get());
    CTovikView* view = m_pMainWnd->View();
    if (m_prompts) view->SetPrompts(std::move(m_prompts));
    connect(m_pMainWnd.get(), &CMainFrame::aboutRequested, this, &CTovikApp::OnAppAbout);
    m_pMainWnd->ShowRegistryLocation(QString::fromLocal8Bit(store.location), store.readOnly, m_registryName);

    // The view lays its controls out from its client area, so the frame gets its size first.
    m_pMainWnd->resize(kFrameWidth, kFrameHeight);
    m_pMainWnd->layout()->activate();
    view->OnInitialUpdate();
    m_pMainWnd->Navigation()->RestoreLastKey();

    m_pMainWnd->show();
    m_pMainWnd->repaint();
    QApplication::processEvents();   // the tree is painted before the caution appears

    view->Prompts().MessageBox(m_pMainWnd.get(), StartupCautionText(), MessageButtons::Ok);
    if (const QString notices = OpenNoticesText(store); !notices.isEmpty())
        view->Prompts().MessageBox(m_pMainWnd.get(), notices, MessageButtons::Ok);
    // A file named on the command line (opened from a file manager): its import, with its
    // confirmation, once the event loop runs.
    if (!m_fileToImport.isEmpty())
        QMetaObject::invokeMethod(view, [view, file = m_fileToImport] { view->Commands().Backup().ImportFile(file); }, Qt::QueuedConnection);
    return true;
}

void CTovikApp::OnAppAbout() {
    CAboutDlg dialog(m_pMainWnd.get());
    m_pMainWnd->View()->Prompts().DoModal(dialog);
}

void CTovikApp::importWhenIdle(const QString& fileName) {
    if (!m_pMainWnd) return;
    // A message or an import already open here is answered first; the file waits its turn.
    if (QApplication::activeModalWidget() != nullptr) {
        QTimer::singleShot(300, this, [this, fileName] { importWhenIdle(fileName); });
        return;
    }
    m_pMainWnd->View()->Commands().Backup().ImportFile(fileName);
}

void CTovikApp::bringToFront() {
    if (!m_pMainWnd) return;
    m_pMainWnd->showNormal();
    m_pMainWnd->raise();
    m_pMainWnd->activateWindow();
}

QStringList JapaneseFontFamilies() {
    return {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),   QStringLiteral("Source Han Sans JP"),
            QStringLiteral("IPAexGothic"),      QStringLiteral("IPAPGothic"),     QStringLiteral("IPAGothic"),
            QStringLiteral("TakaoPGothic"),     QStringLiteral("VL PGothic"),     QStringLiteral("Droid Sans Japanese")};
}

QFont InterfaceFont(const QFont& desktop, const QStringList& installedFamilies) {
    QFont font = desktop;
    for (const QString& family : JapaneseFontFamilies()) {
        if (installedFamilies.contains(family)) {
            font.setFamilies({family});
            break;
        }
    }
    return font;
}

void ApplyInterfaceFont() { QApplication::setFont(InterfaceFont(QApplication::font(), QFontDatabase::families())); }

QString StartupCautionText() {
    return Tovik::tr("十分注意して使用してください。キーを消す前にはエクスポートしておいてください。");
}

QString ReadOnlyNoticeText(const std::string& reason) {
    QString text = Tovik::tr("このレジストリは読み取り専用で開きました。変更は保存できません。");
    if (!reason.empty()) text += QStringLiteral("\n\n") + StoreText(reason);
    return text;
}

QString OpenNoticesText(const tovik::StoreOpenResult& store) {
    QStringList paragraphs;
    // The read-only reason is often one of the notices too (a hive Windows left unfinished): it
    // is said once, in the notices.
    const bool reasonInNotices =
        std::find(store.notices.begin(), store.notices.end(), store.readOnlyReason) != store.notices.end();
    if (store.readOnly) paragraphs << ReadOnlyNoticeText(reasonInNotices ? std::string() : store.readOnlyReason);
    if (const QString notices = StoreNoticesText(store.notices); !notices.isEmpty()) paragraphs << notices;
    return paragraphs.join(QStringLiteral("\n\n"));
}

QString InstanceNameOf(const tovik::RegistrySource& source) {
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
