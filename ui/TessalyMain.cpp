// Placeholder entry until the start-up code lands.
#include <QApplication>

int TessalyMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    return 0;
}
