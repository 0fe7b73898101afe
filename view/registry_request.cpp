#include "view/registry_request.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "ui/qt_text.h"

namespace {

struct KindName {
    RegistryRequest::Kind kind;
    const char* word;
};
constexpr KindName kKindNames[] = {{RegistryRequest::Kind::UserStore, "user-store"},
                                   {RegistryRequest::Kind::StoreFile, "store"},
                                   {RegistryRequest::Kind::WinePrefix, "wine-prefix"},
                                   {RegistryRequest::Kind::Windows, "windows"},
                                   {RegistryRequest::Kind::Hive, "hive"}};

}  // namespace

bool RegistryRequest::operator==(const RegistryRequest& other) const {
    return kind == other.kind && path == other.path && userHive == other.userHive &&
           mountAs.compare(other.mountAs, Qt::CaseInsensitive) == 0 && writable == other.writable;
}

QString kindLabelOf(tovik::discover::RegistryKind kind) {
    using tovik::discover::RegistryKind;
    switch (kind) {
    case RegistryKind::TovikStore: return QStringLiteral("Tovik");
    case RegistryKind::Wine: return QStringLiteral("Wine");
    case RegistryKind::Proton: return QStringLiteral("Proton");
    case RegistryKind::Lutris: return QStringLiteral("Lutris");
    case RegistryKind::Bottles: return QStringLiteral("Bottles");
    case RegistryKind::Heroic: return QStringLiteral("Heroic");
    case RegistryKind::PlayOnLinux: return QStringLiteral("PlayOnLinux");
    }
    return QStringLiteral("Wine");
}

RegistryRequest requestOfFound(const tovik::discover::FoundRegistry& found) {
    RegistryRequest request;
    request.kindLabel = kindLabelOf(found.kind);
    if (found.kind == tovik::discover::RegistryKind::TovikStore) {
        // Discovery reports the user's own store: it opens as a start without options does, so
        // that it shares the one copy that runs for it.
        request.kind = RegistryRequest::Kind::UserStore;
        return request;
    }
    request.kind = RegistryRequest::Kind::WinePrefix;
    request.path = QFile::decodeName(QByteArray::fromStdString(found.folder));
    request.name = toQString(found.name);
    return request;
}

QStringList launchArguments(const RegistryRequest& request) {
    QStringList args;
    switch (request.kind) {
    case RegistryRequest::Kind::UserStore: return args;  // the user's store keeps its plain title
    case RegistryRequest::Kind::StoreFile: args << QStringLiteral("--registry=") + request.path; break;
    case RegistryRequest::Kind::WinePrefix: args << QStringLiteral("--wine-prefix=") + request.path; break;
    case RegistryRequest::Kind::Windows:
        args << QStringLiteral("--windows=") + request.path;
        if (!request.userHive.isEmpty()) args << QStringLiteral("--user=") + request.userHive;
        break;
    case RegistryRequest::Kind::Hive:
        args << QStringLiteral("--hive=") + request.path << QStringLiteral("--as=") + request.mountAs;
        break;
    }
    const bool hiveFiles =
        request.kind == RegistryRequest::Kind::Windows || request.kind == RegistryRequest::Kind::Hive;
    if (hiveFiles && request.writable) args << QStringLiteral("--write");
    if (!request.name.isEmpty()) args << QStringLiteral("--name=") + request.name;
    return args;
}

QString encodeRequest(const RegistryRequest& request) {
    QJsonObject object;
    for (const KindName& kind : kKindNames)
        if (kind.kind == request.kind) object[QStringLiteral("kind")] = QString::fromLatin1(kind.word);
    object[QStringLiteral("path")] = request.path;
    if (!request.userHive.isEmpty()) object[QStringLiteral("user")] = request.userHive;
    if (!request.mountAs.isEmpty()) object[QStringLiteral("as")] = request.mountAs;
    if (request.writable) object[QStringLiteral("write")] = true;
    if (!request.name.isEmpty()) object[QStringLiteral("name")] = request.name;
    object[QStringLiteral("label")] = request.kindLabel;
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<RegistryRequest> decodeRequest(const QString& text) {
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();
    RegistryRequest request;
    bool known = false;
    for (const KindName& kind : kKindNames) {
        if (object.value(QStringLiteral("kind")).toString() == QLatin1String(kind.word)) {
            request.kind = kind.kind;
            known = true;
        }
    }
    request.path = object.value(QStringLiteral("path")).toString();
    request.userHive = object.value(QStringLiteral("user")).toString();
    request.mountAs = object.value(QStringLiteral("as")).toString();
    request.writable = object.value(QStringLiteral("write")).toBool();
    request.name = object.value(QStringLiteral("name")).toString();
    request.kindLabel = object.value(QStringLiteral("label")).toString();
    // An entry someone edited into something that cannot be opened is left out.
    const bool needsPath = request.kind != RegistryRequest::Kind::UserStore;
    if (!known || (needsPath && request.path.isEmpty()) ||
        (request.kind == RegistryRequest::Kind::Hive && request.mountAs.isEmpty()))
        return std::nullopt;
    return request;
}

QList<RegistryRequest> withRecent(QList<RegistryRequest> recent, const RegistryRequest& request, int most) {
    recent.removeIf([&request](const RegistryRequest& old) { return old == request; });
    recent.prepend(request);
    while (recent.size() > most) recent.removeLast();
    return recent;
}
