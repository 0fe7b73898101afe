#include "view/navigation_commands.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

#include "find/key_path.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

using tovik::ParseKeyPath;
using tovik::find::ResolveKeyPath;

CAddressBar::CAddressBar(QWidget* parent) : QLineEdit(parent) {
    setObjectName(QStringLiteral("AddressBar"));
    setClearButtonEnabled(false);
}

void CAddressBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit goRequested(text());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

NavigationCommands::NavigationCommands(CTovikView& view, std::unique_ptr<ViewSettings> settings)
    : QObject(&view), m_view(view), m_settings(std::move(settings)), m_address(new CAddressBar) {
    connect(m_address, &CAddressBar::goRequested, this, [this](const QString& text) { GoToPath(text); });
    connect(&m_view, &CTovikView::currentKeyChanged, this, [this] {
        showCurrentKey();
        m_settings->SetLastKey(CurrentPath());
    });
}

NavigationCommands::~NavigationCommands() {
    m_settings->Sync();
    // The frame's tool bar owns the address line once it is placed; otherwise it is ours.
    if (!m_address->parent()) delete m_address;
}

QString NavigationCommands::CurrentPath() const {
    if (m_view.CurrentRoot() == 0) return {};
    return ToQString(tovik::FullKeyPath(m_view.CurrentRoot(), m_view.CurrentKeyPath()));
}

void NavigationCommands::showCurrentKey() {
    m_address->setText(CurrentPath());
    m_address->setCursorPosition(0);
}

bool NavigationCommands::GoToPath(const QString& text) {
    const tovik::ParsedKeyPath parsed = ParseKeyPath(ToU16View(text));
    if (!parsed.ok()) {
        m_view.Prompts().MessageBox(&m_view, Translated(kBadPathMessage), MessageButtons::Ok);
        return false;
    }
    const tovik::find::ResolvedKeyPath resolved = ResolveKeyPath(parsed.root, parsed.path);
    if (!resolved.exists) {
        // Says which name is missing and where the path still exists.
        const QString there = ToQString(tovik::FullKeyPath(parsed.root, resolved.existingPath));
        m_view.Prompts().MessageBox(&m_view,
                                    Tovik::tr("キー「%1」は存在しません。\n%2 までは存在します。")
                                        .arg(ToQString(resolved.missingName), there),
                                    MessageButtons::Ok);
        return false;
    }
    const bool gone = m_view.GoToKey(parsed.root, resolved.existingPath);
    if (gone) showCurrentKey();
    return gone;
}

void NavigationCommands::OnCopyKeyPath() {
    if (const QString path = CurrentPath(); !path.isEmpty()) QGuiApplication::clipboard()->setText(path);
}

bool NavigationCommands::OnUpdateCopyKeyPath() const { return m_view.CurrentRoot() != 0; }

void NavigationCommands::OnFocusAddressBar() {
    emit addressBarWanted();
    m_address->setFocus(Qt::ShortcutFocusReason);
    m_address->selectAll();
}

void NavigationCommands::RestoreLastKey() {
    const tovik::ParsedKeyPath parsed = ParseKeyPath(ToU16View(m_settings->LastKey()));
    if (!parsed.ok()) return;
    const tovik::find::ResolvedKeyPath resolved = ResolveKeyPath(parsed.root, parsed.path);
    if (resolved.exists) m_view.GoToKey(parsed.root, resolved.existingPath);   // a key now gone is ignored
}

void NavigationCommands::OnAddFavourite() {
    const QString path = CurrentPath();
    if (path.isEmpty()) return;
    QStringList favourites = m_settings->Favourites();
    for (const QString& known : favourites)
        if (known.compare(path, Qt::CaseInsensitive) == 0) return;
    favourites << path;
    m_settings->SetFavourites(favourites);
    m_settings->Sync();
}

bool NavigationCommands::GoToFavourite(int index) {
    const QStringList favourites = m_settings->Favourites();
    if (index < 0 || index >= favourites.size()) return false;
    return GoToPath(favourites[index]);
}

void NavigationCommands::RemoveFavourite(int index) {
    QStringList favourites = m_settings->Favourites();
    if (index < 0 || index >= favourites.size()) return;
    favourites.removeAt(index);
    m_settings->SetFavourites(favourites);
    m_settings->Sync();
}
