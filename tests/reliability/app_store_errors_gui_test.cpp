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
    QTemporaryDir home;
    std::string store;

    // Starts the application, closes the message box it shows and returns its text.
    QString StartAndReadTheMessage() {
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
        const bool started = app.InitInstance();
        closer.stop();
        return started ? QStringLiteral("(started)") : text;
    }

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
        qputenv("TMPDIR", home.path().toUtf8());
        store = tovik::DefaultRegistryPath();
        QVERIFY(store.starts_with(home.path().toStdString()));
        QVERIFY(tovik::CreatePrivateFolders(std::filesystem::path(store).parent_path().string()));
    }

    void damagedStore() {
        std::mt19937 random(9);
        Bytes noise(32768);
        for (BYTE& b : noise) b = static_cast<BYTE>(random());
        WriteFileBytes(store, noise);
        const QString text = StartAndReadTheMessage();
        QVERIFY2(text.contains("not a Tovik registry database"), qPrintable(text));
        QVERIFY(ReadFileBytes(store) == noise);
    }

    void readOnlyStore() {
        std::filesystem::remove(store);
        QVERIFY(tovik::OpenRegistryStore(store).ok);
        tovik::CloseRegistryStore();
        const Bytes before = ReadFileBytes(store);
        QCOMPARE(::chmod(store.c_str(), 0400), 0);
        const QString text = StartAndReadTheMessage();
        QVERIFY2(text.contains("read-only"), qPrintable(text));
        QVERIFY(ReadFileBytes(store) == before);
    }
};

QTEST_MAIN(AppStoreErrorsTest)
#include "app_store_errors_gui_test.moc"
