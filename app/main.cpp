#include <QApplication>

#include "app/tovik_app.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tovik"));
    ApplyInterfaceFont();
    CTovikApp app;
    if (!app.InitInstance()) return 0;
    return QApplication::exec();
}
