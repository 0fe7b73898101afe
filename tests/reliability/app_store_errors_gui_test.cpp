// At start the GUI meets a store it cannot use: it tells the user why in a message box, does not
// go on, and leaves the file as it was.
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "app/tovik_app.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"
#include "stores/sqlite/private_folders.h"

using namespace reliability;

class AppStoreErrorsTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::string store_;

    // Starts the application, closes the message box it shows and returns its text.
    QString startAndReadTheMessage() {
        QString text;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->accept();
            }
        });
        closer.start(20);
        CTovikApp app;
        const bool started = app.initInstance();
        closer.stop();
        return started ? QStringLiteral("(started)") : text;
    }

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", home_.filePath("data").toUtf8());
        qputenv("TMPDIR", home_.path().toUtf8());
        store_ = tovik::defaultRegistryPath();
        QVERIFY(store_.starts_with(home_.path().toStdString()));
        QVERIFY(tovik::createPrivateFolders(std::filesystem::path(store_).parent_path().string()));
    }

    void damagedStore() {
        std::mt19937 random(9);
        Bytes noise(32768);
        for (BYTE& b : noise) b = static_cast<BYTE>(random());
        WriteFileBytes(store_, noise);
        const QString text = startAndReadTheMessage();
        QVERIFY2(text.contains("not a Tovik registry database"), qPrintable(text));
        QVERIFY(ReadFileBytes(store_) == noise);
    }

    void readOnlyStore() {
        std::filesystem::remove(store_);
        QVERIFY(tovik::openRegistryStore(store_).ok);
        tovik::closeRegistryStore();
        const Bytes before = ReadFileBytes(store_);
        QCOMPARE(::chmod(store_.c_str(), 0400), 0);
        const QString text = startAndReadTheMessage();
        QVERIFY2(text.contains("read-only"), qPrintable(text));
        QVERIFY(ReadFileBytes(store_) == before);
    }
};

QTEST_MAIN(AppStoreErrorsTest)
#include "app_store_errors_gui_test.moc"
