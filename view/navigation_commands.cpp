#include "view/navigation_commands.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

#include "find/key_path.h"
#include "ui/qt_text.h"
#include "ui/translated.h"
#include "view/tovik_view.h"

using tovik::parseKeyPath;
using tovik::find::resolveKeyPath;

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
    connect(m_address, &CAddressBar::goRequested, this, [this](const QString& text) { goToPath(text); });
    connect(&m_view, &CTovikView::currentKeyChanged, this, [this] {
        showCurrentKey();
        m_settings->setLastKey(currentPath());
    });
}

NavigationCommands::~NavigationCommands() {
    m_settings->sync();
    // The frame's tool bar owns the address line once it is placed; otherwise it is ours.
    if (!m_address->parent()) delete m_address;
}

QString NavigationCommands::currentPath() const {
    if (m_view.currentRoot() == 0) return {};
    return toQString(tovik::fullKeyPath(m_view.currentRoot(), m_view.currentKeyPath()));
}

void NavigationCommands::showCurrentKey() {
    m_address->setText(currentPath());
    m_address->setCursorPosition(0);
}

bool NavigationCommands::goToPath(const QString& text) {
    const tovik::ParsedKeyPath parsed = parseKeyPath(toU16View(text));
    if (!parsed.ok()) {
        m_view.prompts().messageBox(&m_view, translated(kBadPathMessage), MessageButtons::Ok);
        return false;
    }
    const tovik::find::ResolvedKeyPath resolved = resolveKeyPath(parsed.root, parsed.path);
    if (!resolved.exists) {
        // Says which name is missing and where the path still exists.
        const QString there = toQString(tovik::fullKeyPath(parsed.root, resolved.existingPath));
        m_view.prompts().messageBox(
            &m_view,
            Tovik::tr("キー「%1」は存在しません。\n%2 までは存在します。").arg(toQString(resolved.missingName), there),
            MessageButtons::Ok);
        return false;
    }
    const bool gone = m_view.goToKey(parsed.root, resolved.existingPath);
    if (gone) showCurrentKey();
    return gone;
}

void NavigationCommands::OnCopyKeyPath() {
    if (const QString path = currentPath(); !path.isEmpty()) QGuiApplication::clipboard()->setText(path);
}

bool NavigationCommands::OnUpdateCopyKeyPath() const {
    return m_view.currentRoot() != 0;
}

void NavigationCommands::OnFocusAddressBar() {
    emit addressBarWanted();
    m_address->setFocus(Qt::ShortcutFocusReason);
    m_address->selectAll();
}

void NavigationCommands::restoreLastKey() {
    const tovik::ParsedKeyPath parsed = parseKeyPath(toU16View(m_settings->lastKey()));
    if (!parsed.ok()) return;
    const tovik::find::ResolvedKeyPath resolved = resolveKeyPath(parsed.root, parsed.path);
    if (resolved.exists) m_view.goToKey(parsed.root, resolved.existingPath);  // a key now gone is ignored
}

void NavigationCommands::OnAddFavourite() {
    const QString path = currentPath();
    if (path.isEmpty()) return;
    QStringList favourites = m_settings->favourites();
    for (const QString& known : favourites)
        if (known.compare(path, Qt::CaseInsensitive) == 0) return;
    favourites << path;
    m_settings->setFavourites(favourites);
    m_settings->sync();
}

bool NavigationCommands::goToFavourite(int index) {
    const QStringList favourites = m_settings->favourites();
    if (index < 0 || index >= favourites.size()) return false;
    return goToPath(favourites[index]);
}

void NavigationCommands::removeFavourite(int index) {
    QStringList favourites = m_settings->favourites();
    if (index < 0 || index >= favourites.size()) return;
    favourites.removeAt(index);
    m_settings->setFavourites(favourites);
    m_settings->sync();
}
