// What a screen reader finds in the three windows, read from the
// accessibility tree.
#include "fakeservices.h"
#include "form1.h"
#include "form2.h"
#include "frmabout.h"
#include "troubleshooting.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

namespace {

const QString forum = QStringLiteral("http://127.0.0.1:27380");
const QString contact = QStringLiteral("012345678");

// The accessible role and name of the named control.
QPair<QAccessible::Role, QString> spoken(QWidget* window, const QString& name) {
    auto* control = window->findChild<QWidget*>(name);
    QAccessibleInterface* accessible =
        control ? QAccessible::queryAccessibleInterface(control) : nullptr;
    if (!accessible) {
        return {QAccessible::NoRole, QStringLiteral("(no such control: %1)").arg(name)};
    }
    return {accessible->role(), accessible->text(QAccessible::Name)};
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextIsSpoken_data();
    void everyTextIsSpoken();

private:
    FakeServices m_fakes;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form2> m_form2;
    std::unique_ptr<frmAbout> m_about;
};

void TestAccessibility::initTestCase() {
    m_form1 = std::make_unique<Form1>(m_fakes.services({forum, forum, forum}));
    m_form2 = std::make_unique<Form2>(forum, contact);
    m_about = std::make_unique<frmAbout>(
        forum, sysinfo::Services{m_fakes.registry, m_fakes.processes, m_fakes.messenger});
    m_about->show(); // its load handling fills three texts
}

void TestAccessibility::everyTextIsSpoken_data() {
    QTest::addColumn<QWidget*>("window");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name");

    QWidget* form1 = m_form1.get();
    QTest::newRow("Form1 prompt names the text box")
        << form1 << "Text1" << QAccessible::EditableText
        << QStringLiteral("请输入文件格式(例：“exe”，不用输入“.”)：");
    QTest::newRow("Form1 查询") << form1 << "Command1" << QAccessible::Button << "查询";
    QTest::newRow("Form1 疑难解答") << form1 << "Command2" << QAccessible::Button << "疑难解答";
    QTest::newRow("Form1 退出") << form1 << "Command3" << QAccessible::Button << "退出";
    QTest::newRow("Form1 访问论坛") << form1 << "Command4" << QAccessible::Button << "访问论坛";
    QTest::newRow("Form1 pane") << form1 << "WEB1" << QAccessible::Client << "查询页面";

    QWidget* form2 = m_form2.get();
    QTest::newRow("Form2 whole text")
        << form2 << "Label1" << QAccessible::StaticText << troubleshooting::text(contact);
    QTest::newRow("Form2 forum address")
        << form2 << "Text1" << QAccessible::EditableText << QString();
    QTest::newRow("Form2 确定") << form2 << "Command1" << QAccessible::Button << "确定";

    QWidget* about = m_about.get();
    QTest::newRow("About title") << about << "lblTitle" << QAccessible::StaticText << "Dornavel";
    QTest::newRow("About version")
        << about << "lblVersion" << QAccessible::StaticText << "版本 2.0.0";
    QTest::newRow("About description") << about << "Label1" << QAccessible::StaticText
                                       << "本程序可以帮助您解决未知格式的打开问题，不知道什么格式用"
                                          "什么软件打开？那就来查询一下吧！";
    QTest::newRow("About maker") << about << "lblDescription" << QAccessible::StaticText
                                 << "制作者：Zorv";
    QTest::newRow("About forum") << about << "Label2" << QAccessible::StaticText
                                 << "论坛：" + forum;
    QTest::newRow("About disclaimer") << about << "lblDisclaimer" << QAccessible::StaticText
                                      << "声明:本程序仅为研究交流之作，请勿应用于非法用途！";
    QTest::newRow("About 确定") << about << "cmdOK" << QAccessible::Button << "确定";
    QTest::newRow("About 系统信息")
        << about << "cmdSysInfo" << QAccessible::Button << "系统信息(S)...";
}

void TestAccessibility::everyTextIsSpoken() {
    QFETCH(QWidget*, window);
    QFETCH(QString, control);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);
    const auto [shownRole, shownName] = spoken(window, control);
    QCOMPARE(shownName, name);
    QCOMPARE(shownRole, role);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
