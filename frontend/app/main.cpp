// kaxon5: the desktop program's entry point.
#include <QApplication>
#include <clocale>

#include "Main.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Numbers in pads, settings lists and logs are written and read the C way.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Kaxon5"));
    MainOptions options;
    options.arguments = QApplication::arguments();
    Main window(options);
    if (!window.StartOk()) return 0;
    return application.exec();
}
