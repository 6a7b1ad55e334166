// A window of the app's client size with nothing in it: the floor for
// mapping time and idle memory.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.setFixedSize(561, 393);
    window.show();
    return QApplication::exec();
}
