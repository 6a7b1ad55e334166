#include "cellgrid.h"
#include "troubleshooting.h"

#include <QTest>

namespace {

QString blanks(int n) {
    return QString(n, QLatin1Char(' '));
}

const QString contact = QStringLiteral("012345678");

} // namespace

class TestTroubleshooting : public QObject {
    Q_OBJECT

private slots:
    void definedLines_data();
    void definedLines();
    void sixteenLinesFitTheLabel();
    void forumGapOnLineEight();
    void rules_data();
    void rules();
};

void TestTroubleshooting::definedLines_data() {
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("shown");

    QTest::newRow("1: question, 3 blanks")
        << 1
        << "问：为何输入扩展名，点击“查询”（或按Ctrl+S）后，弹出的网页显示“网页未找到”？" +
               blanks(3);
    QTest::newRow("2: answer")
        << 2
        << "答：请检查一下您的拼写是否正确，若正确，那就是本软件还未收录此扩展名，您可以联系QQ：";
    QTest::newRow("3: number moved whole, 63 blanks") << 3 << "012345678来进行提醒。" + blanks(63);
    QTest::newRow("4: the other 83 blanks") << 4 << blanks(83);
    QTest::newRow("5: question, 2 of 3 blanks")
        << 5
        << "问：为何输入扩展名，点击“查询”（或按Ctrl+S）后，弹出的网页显示“无法显示该页”？" +
               blanks(2);
    QTest::newRow("6: answer, 38 blanks")
        << 6 << "答：请检查一下您的电脑是否已经正确的连入网络。" + blanks(38);
    QTest::newRow("7: the other 83 blanks") << 7 << blanks(83);
    QTest::newRow("8: forum question with its gap")
        << 8 << "问：假如某个扩展名未找到，是否需要到“Zorv电子科技论坛（" + blanks(22) + "）”下";
    QTest::newRow("9: rest of the question, 64 blanks") << 9 << "载本软件的最新版本？" + blanks(64);
    QTest::newRow("10: answer up to 岁时")
        << 10
        << "答：不需要，因为本软件采用的是网络更新，只要您的网络保持畅通，本软件的数据库也在岁时";
    QTest::newRow("11: rest, 26 blanks")
        << 11 << "的更新（而且不占您计算机的磁盘空间哦~~），数据库均在网络。" + blanks(26);
    QTest::newRow("12: the other 83 blanks") << 12 << blanks(83);
    QTest::newRow("13: question, 49 blanks")
        << 13 << "问：那新版本和旧版本有什么区别呢？" + blanks(49);
    QTest::newRow("14: answer up to 不断的更")
        << 14
        << "答：新版本更新的是功能和界面，您用的哪个版本，就是哪个专用数据库，数据库也在不断的更";
    QTest::newRow("15: 新中 up to 不停")
        << 15
        << "新中，而新的功能就会有新的专用数据库，是和这个数据库没有关系，而且新的数据库也在不停";
    QTest::newRow("16: the end") << 16 << "的更新中。";
}

void TestTroubleshooting::definedLines() {
    QFETCH(int, line);
    QFETCH(QString, shown);

    const QString text = troubleshooting::text(contact);
    const QList<cellgrid::Line> lines = cellgrid::layOut(text, troubleshooting::lineWidth);
    QVERIFY(line <= lines.size());
    const cellgrid::Line& l = lines[line - 1];
    QCOMPARE(l.shown(text), shown);
    QCOMPARE(l.top, (line - 1) * 12);
    QCOMPARE(l.cells.first().x, 0);
    QVERIFY(l.cells.last().x + l.cells.last().width <= 505);
    // Cells follow one another without gaps: nothing inside a line is dropped.
    QCOMPARE(l.cells.size(), shown.size());
}

void TestTroubleshooting::sixteenLinesFitTheLabel() {
    const QString text = troubleshooting::text(contact);
    const QList<cellgrid::Line> lines = cellgrid::layOut(text, troubleshooting::lineWidth);
    QCOMPARE(lines.size(), 16);
    QVERIFY(lines.last().top + 12 <= 201);

    // Exactly five blanks are dropped: the one that ends each of lines 3, 5, 6, 9 and 11.
    qsizetype placed = 0;
    for (const auto& line : lines) {
        placed += line.cells.size();
    }
    QCOMPARE(text.size() - placed, 5);
}

void TestTroubleshooting::forumGapOnLineEight() {
    const QString text = troubleshooting::text(contact);
    const auto gap = troubleshooting::forumGap(contact);
    QCOMPARE(text.mid(gap.start, gap.length), blanks(22));
    QVERIFY(text.mid(0, gap.start).endsWith(QStringLiteral("论坛（")));
    QVERIFY(text.mid(gap.start + gap.length).startsWith(QStringLiteral("）”下")));

    const auto lines = cellgrid::layOut(text, troubleshooting::lineWidth);
    QCOMPARE(cellgrid::spanRect(lines, gap.start, gap.length), QRect(336, 84, 132, 12));
    const auto& line8 = lines[7].cells;
    QCOMPARE(line8.last().x + line8.last().width, 504);
    QCOMPARE(line8[line8.size() - 3].x, 468);
}

void TestTroubleshooting::rules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("CJK that does not fit begins the next line")
        << "一二三" << 30 << QStringList{"一二", "三"};
    QTest::newRow("ASCII run moves whole") << "一二abc" << 36 << QStringList{"一二", "abc"};
    QTest::newRow("ASCII signs belong to the run") << "一a+b" << 24 << QStringList{"一", "a+b"};
    QTest::newRow("blank that does not fit is dropped")
        << "一二 三" << 24 << QStringList{"一二", "三"};
    QTest::newRow("blank at the start of a line stays")
        << "一二  三" << 24 << QStringList{"一二", " 三"};
    QTest::newRow("blank that fits stays at the end")
        << "一二 三" << 30 << QStringList{"一二 ", "三"};
    QTest::newRow("run longer than a line is cut")
        << "abcdefg" << 18 << QStringList{"abc", "def", "g"};
    QTest::newRow("exact fit") << "一二" << 24 << QStringList{"一二"};
    QTest::newRow("a surrogate pair is one cell")
        << QString::fromUtf16(u"一二\U0001F600三") << 36
        << QStringList{QString::fromUtf16(u"一二\U0001F600"), "三"};
    QTest::newRow("a combining mark stays in its base's cell")
        << QString::fromUtf16(u"e\u0301e\u0301e\u0301") << 12
        << QStringList{QString::fromUtf16(u"e\u0301e\u0301"), QString::fromUtf16(u"e\u0301")};
}

void TestTroubleshooting::rules() {
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(QStringList, lines);

    QStringList shown;
    for (const auto& line : cellgrid::layOut(text, width)) {
        shown << line.shown(text);
    }
    QCOMPARE(shown, lines);
}

QTEST_APPLESS_MAIN(TestTroubleshooting)
#include "tst_troubleshooting.moc"
