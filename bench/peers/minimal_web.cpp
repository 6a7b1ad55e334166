// The least program that does the app's lookup: a line edit and a web view at
// the app's rectangles; Enter loads the same address the app would.
#include <QApplication>
#include <QLineEdit>
#include <QUrl>
#include <QWebEngineView>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal web"));
    window.setFixedSize(561, 393);
    auto* text = new QLineEdit(&window);
    text->setGeometry(16, 32, 457, 18);
    auto* view = new QWebEngineView(&window);
    view->setGeometry(8, 88, 545, 297);
    QObject::connect(text, &QLineEdit::returnPressed, view, [text, view] {
        view->load(QUrl(QStringLiteral(LOOKUP_SITE "/filefound/%1.html")
                            .arg(QString::fromUtf8(QUrl::toPercentEncoding(text->text())))));
    });
    text->setFocus();
    window.show();
    return QApplication::exec();
}
