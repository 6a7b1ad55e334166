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

    QTest::newRow("own title, stop icon")
        << "错误" << platform::MessageIcon::Critical << "错误" << QMessageBox::Critical;
    QTest::newRow("no title: application title")
        << "" << platform::MessageIcon::None << "Dornavel" << QMessageBox::NoIcon;
}

void TestMessenger::showsModalBox() {
    QFETCH(QString, title);
    QFETCH(platform::MessageIcon, icon);
    QFETCH(QString, shownTitle);
    QFETCH(QMessageBox::Icon, shownIcon);

    QString seenTitle, seenText;
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
        seenIcon = box->icon();
        width = box->width();
        for (QAbstractButton* button : box->buttons()) {
            buttons << button->text();
        }
        box->button(QMessageBox::Ok)->click();
    });
    platform::makeMessenger()->show(nullptr, {QStringLiteral("请输入文件格式！"), title, icon});

    QVERIFY(modal);
    QCOMPARE(seenTitle, shownTitle);
    QCOMPARE(seenText, QStringLiteral("请输入文件格式！"));
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
