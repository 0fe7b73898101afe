// The single-instance channel is private to the user: its lock and socket sit in a folder of the
// user's own (mode 0700), other users can neither connect nor take the first copy's place, and a
// folder of that name that is not the user's is never used.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/single_instance.h"
#include "reliability/reliability_support.h"

using namespace reliability;

namespace {

struct stat statOf(const QString& path, bool followLinks = false) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if ((followLinks ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0) st.st_mode = 0;
    return st;
}

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
    QTemporaryDir temp_;
    QString folder_;

private slots:
    void init() {
        QVERIFY(temp_.isValid());
        qputenv("TMPDIR", temp_.path().toUtf8());
        folder_ = QDir(temp_.path()).filePath(QStringLiteral("tovik-%1").arg(::getuid()));
        std::filesystem::remove_all(QFile::encodeName(folder_).toStdString());
    }

    void lockAndSocketLiveInAPrivateFolder() {
        SingleInstance first(QStringLiteral("TovikPrivate"));
        QVERIFY(first.acquire());
        const struct stat dir = statOf(folder_);
        QVERIFY(S_ISDIR(dir.st_mode));
        QCOMPARE(dir.st_mode & 0777, 0700u);
        QCOMPARE(dir.st_uid, ::getuid());
        QVERIFY(S_ISSOCK(statOf(folder_ + "/TovikPrivate").st_mode));
        QVERIFY(S_ISREG(statOf(folder_ + "/TovikPrivate.lock").st_mode));
        // Nothing of the channel is left in the shared temporary folder itself.
        QCOMPARE(QDir(temp_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList{QFileInfo(folder_).fileName()});

        QSignalSpy activated(&first, &SingleInstance::activationRequested);
        SingleInstance second(QStringLiteral("TovikPrivate"));
        QVERIFY(!second.acquire());
        QVERIFY(activated.count() > 0 || activated.wait(2000));
    }

    void otherUsersCannotConnect() {
        const std::optional<Account> other = UnprivilegedAccount();
        if (!other) QSKIP("needs root to act as another user");
        SingleInstance first(QStringLiteral("TovikPrivate"));
        QVERIFY(first.acquire());
        ::chmod(QFile::encodeName(temp_.path()).constData(), 0755);  // the other user may reach the folder
        const std::string socket = QFile::encodeName(folder_ + "/TovikPrivate").toStdString();
        const ChildExit mine = RunChild({{HELPER_PATH, "connect", socket}, {}, {}, {}, {}});
        QCOMPARE(mine.code, 0);  // the helper itself can connect, as this user
        const ChildExit theirs = RunChild({{HELPER_PATH, "connect", socket}, {}, {}, other->uid, other->gid});
        QVERIFY2(theirs.exited && theirs.code == 3, theirs.err.c_str());
    }

    void aFolderOfAnotherUserIsNotUsed() {
        const std::optional<Account> other = UnprivilegedAccount();
        if (!other) QSKIP("needs root to make a folder of another user");
        QVERIFY(QDir().mkpath(folder_));
        QCOMPARE(::chown(QFile::encodeName(folder_).constData(), other->uid, other->gid), 0);
        ::chmod(QFile::encodeName(folder_).constData(), 0777);
        SingleInstance first(QStringLiteral("TovikPrivate"));
        QVERIFY(first.acquire());  // runs, on its own
        QVERIFY(QDir(folder_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
    }

    void aLinkInPlaceOfTheFolderIsNotFollowed() {
        QTemporaryDir elsewhere;
        QVERIFY(QFile::link(elsewhere.path(), folder_));
        SingleInstance first(QStringLiteral("TovikPrivate"));
        QVERIFY(first.acquire());
        QVERIFY(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
        QVERIFY(S_ISLNK(statOf(folder_).st_mode));
    }

    void aFolderWithLooseModeIsMadePrivate() {
        QVERIFY(QDir().mkpath(folder_));
        ::chmod(QFile::encodeName(folder_).constData(), 0777);
        SingleInstance first(QStringLiteral("TovikPrivate"));
        QVERIFY(first.acquire());
        QCOMPARE(statOf(folder_).st_mode & 0777, 0700u);
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_gui_test.moc"
