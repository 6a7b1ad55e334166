#include "cellgridlabel.h"
#include "form2.h"
#include "identity.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

const QString forum = QStringLiteral("http://forum.test");
const QString contact = QStringLiteral("012345678");

template <typename T> T* child(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

bool showActive(QWidget* window) {
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { identity::applyLanguage(*qApp); }
    void window();
    void controls_data();
    void controls();
    void forumBoxCoversOnlyTheGap();
    void focusAndKeys();
    void okDestroysTheWindow();
};

void TestForm2::window() {
    auto* form = new Form2(forum, contact);
    QVERIFY(showActive(form));
    QCOMPARE(form->windowTitle(), QStringLiteral("疑难解答"));
    QCOMPARE(form->size(), QSize(521, 250));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QVERIFY(form->isWindow());
    QVERIFY(!form->parentWidget());
    const Qt::WindowFlags flags = form->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(form->windowType(), Qt::Window); // a taskbar button of its own
    QVERIFY(!form->windowIcon().isNull());
    delete form;
}

void TestForm2::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");

    QTest::newRow("OK") << "Command1" << QRect(216, 224, 97, 25);
    QTest::newRow("questions and answers") << "Label1" << QRect(8, 16, 505, 201);
    QTest::newRow("forum address") << "Text1" << QRect(344, 96, 129, 18);
}

void TestForm2::controls() {
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    Form2 form(forum, contact);
    auto* widget = form.findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), rect);
    QCOMPARE(child<QPushButton>(&form, "Command1")->text(), QStringLiteral("确定"));
    QCOMPARE(child<QLineEdit>(&form, "Text1")->text(), forum);
}

void TestForm2::forumBoxCoversOnlyTheGap() {
    Form2 form(forum, contact);
    auto* label = child<CellGridLabel>(&form, "Label1");
    auto* box = child<QLineEdit>(&form, "Text1");
    const QRect inLabel = box->geometry().translated(-label->pos());
    QCOMPARE(Form2::forumBoxRect(*label, contact), inLabel);

    for (const auto& line : label->lines()) {
        for (const auto& cell : line.cells) {
            const QRect rect(cell.x, line.top, cell.width, 12);
            if (rect.intersects(inLabel)) {
                QCOMPARE(label->text()[cell.index], QLatin1Char(' '));
            }
        }
    }
    // The box stands above the label, so the address hides the gap.
    QVERIFY(form.children().indexOf(box) > form.children().indexOf(label));
}

void TestForm2::focusAndKeys() {
    auto* form = new Form2(forum, contact);
    QPointer<Form2> alive(form);
    QVERIFY(showActive(form));
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>(form, "Command1"));
    QVERIFY(!child<QPushButton>(form, "Command1")->isDefault());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(alive && alive->isVisible());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QLineEdit>(form, "Text1"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(alive && alive->isVisible());
    delete form;
}

void TestForm2::okDestroysTheWindow() {
    QPointer<Form2> form = new Form2(forum, contact);
    QVERIFY(showActive(form));
    QTest::mouseClick(child<QPushButton>(form, "Command1"), Qt::LeftButton);
    QTRY_VERIFY(form.isNull());
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
