// The window baseline: the least a Qt program does to put up a main window.
// The sign-in program's start-up is measured against this one.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.setCentralWidget(new QLabel(QStringLiteral("bare window"), &window));
    window.show();
    return QApplication::exec();
}
