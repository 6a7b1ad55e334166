#include "identity.h"
#include "messenger.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

class TestMessenger : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { identity::applyLanguage(*qApp); }
    void showsModalBox_data();
    void showsModalBox();
};

void TestMessenger::showsModalBox_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<platform::MessageIcon>("icon");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<QMessageBox::Icon>("shownIcon");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("shownText");

    QTest::newRow("own title, stop icon")
        << "错误" << platform::MessageIcon::Critical << "错误" << QMessageBox::Critical << ""
        << "请输入文件格式！";
    QTest::newRow("no title: application title")
        << "" << platform::MessageIcon::None << "Dornavel" << QMessageBox::NoIcon << ""
        << "请输入文件格式！";
    QTest::newRow("address on a line of its own, as plain text")
        << "" << platform::MessageIcon::Critical << "Dornavel" << QMessageBox::Critical
        << "http://127.0.0.1:27380/soso/<b>x</b>.htm"
        << "请输入文件格式！\n\n网页地址：http://127.0.0.1:27380/soso/<b>x</b>.htm";
}

void TestMessenger::showsModalBox() {
    QFETCH(QString, title);
    QFETCH(platform::MessageIcon, icon);
    QFETCH(QString, shownTitle);
    QFETCH(QMessageBox::Icon, shownIcon);
    QFETCH(QString, address);
    QFETCH(QString, shownText);

    QString seenTitle, seenText;
    Qt::TextFormat format = Qt::AutoText;
    bool selectable = false;
    QMessageBox::Icon seenIcon = QMessageBox::Question;
    QStringList buttons;
    bool modal = false;
    int width = 0;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        modal = box->isModal();
        seenTitle = box->windowTitle();
        seenText = box->text();
        format = box->textFormat();
        selectable = box->textInteractionFlags().testFlag(Qt::TextSelectableByMouse);
        seenIcon = box->icon();
        width = box->width();
        for (QAbstractButton* button : box->buttons()) {
            buttons << button->text();
        }
        box->button(QMessageBox::Ok)->click();
    });
    platform::makeMessenger()->show(nullptr,
                                    {QStringLiteral("请输入文件格式！"), title, icon, address});

    QVERIFY(modal);
    QCOMPARE(seenTitle, shownTitle);
    QCOMPARE(seenText, shownText);
    QCOMPARE(format, Qt::PlainText); // markup in an address stays text
    QVERIFY(selectable);             // so the address can be copied
    QCOMPARE(seenIcon, shownIcon);
    QCOMPARE(buttons, QStringList{QStringLiteral("确定")});
    // Wide enough for the whole title beside the frame's buttons.
    QFont bold = QApplication::font();
    bold.setBold(true);
    QVERIFY2(width >= QFontMetrics(bold).horizontalAdvance(shownTitle) + 120,
             qPrintable(QString::number(width)));
}

QTEST_MAIN(TestMessenger)
#include "tst_messenger.moc"
