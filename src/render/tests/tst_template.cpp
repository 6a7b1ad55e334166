// The page templates' renderer: what reaches the page as text, what as
// markup, and which mistakes in a template or its code it reports; and the
// app's own templates against the code that fills them in.
#include "apppages.h"
#include "template.h"

#include <QTest>

using templates::Block;
using templates::Library;
using templates::Value;

namespace {

// Every row's block is given these two, in this order.
const std::initializer_list<const char*> names = {"text", "markup"};

QByteArray rendered(const QByteArray& body, const QString& text, const QByteArray& markup) {
    const Library library("{{define t}}" + body + "{{end}}", QStringLiteral("row.html"));
    const Block block(library, "t", names);
    QByteArray page;
    block.render(page, {text, Value::html(markup)});
    return page;
}

} // namespace

class TstTemplate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rendering_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("markup");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("text: every markup character escaped")
            << QByteArray("<p>{{text}}</p>") << QStringLiteral("<b>&\"'") << QByteArray()
            << QByteArray("<p>&lt;b&gt;&amp;&quot;&#39;</p>");
        QTest::newRow("text: cannot leave its attribute value")
            << QByteArray("<a title=\"{{text}}\" href='{{text}}'>") << QStringLiteral("x' y=\"z")
            << QByteArray() << QByteArray("<a title=\"x&#39; y=&quot;z\" href='x&#39; y=&quot;z'>");
        QTest::newRow("text: control characters dropped, C0, DEL and C1")
            << QByteArray("{{text}}") << QString::fromUtf16(u"a\u0000b\u001b\u007f\u0085\u009fc", 8)
            << QByteArray() << QByteArray("abc");
        QTest::newRow("text: Chinese and beyond the BMP as UTF-8")
            << QByteArray("{{text}}") << QString::fromUtf8("压缩 😀") << QByteArray()
            << QByteArray("压缩 😀");
        QTest::newRow("text: an unpaired surrogate as ?")
            << QByteArray("{{text}}") << QString(QChar(0xd800)) + u'a' + QChar(0xdc00)
            << QByteArray() << QByteArray("?a?");
        QTest::newRow("raw: markup kept")
            << QByteArray("<div>{{raw:markup}}</div>") << QString() << QByteArray("<b>x</b>")
            << QByteArray("<div><b>x</b></div>");
        QTest::newRow("raw: a text given there is still escaped")
            << QByteArray("{{raw:text}}") << QStringLiteral("<b>") << QByteArray()
            << QByteArray("&lt;b&gt;");
        QTest::newRow("markup given where the block wants text is shown as text")
            << QByteArray("<p>{{markup}}</p>") << QString() << QByteArray("<i>&</i>")
            << QByteArray("<p>&lt;i&gt;&amp;&lt;/i&gt;</p>");
        QTest::newRow("layout: line breaks and indentation left out")
            << QByteArray("\n<ul>\n    <li>{{text}} </li>\n\t<li>b</li>\n</ul>\n")
            << QStringLiteral("a") << QByteArray() << QByteArray("<ul><li>a </li><li>b</li></ul>");
        QTest::newRow("layout: {{newline}} kept, comments left out")
            << QByteArray("a{{newline}}\n  b{{! a note }}c") << QString() << QByteArray()
            << QByteArray("a\nbc");
    }

    void rendering() {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(QByteArray, markup);
        QFETCH(QByteArray, expected);
        QCOMPARE(rendered(body, text, markup), expected);
    }

    void problems_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem");
        QTest::newRow("sound") << QByteArray("{{define t}}<a title=\"{{text}}\">{{raw:markup}}</a>"
                                             "{{end}}")
                               << QString();
        QTest::newRow("a name the code does not give")
            << QByteArray("{{define t}}{{text}}{{raw:markup}}{{other}}{{end}}")
            << QStringLiteral("block t shows {{other}}, which it is not given");
        QTest::newRow("a value the block does not show")
            << QByteArray("{{define t}}{{text}}{{end}}")
            << QStringLiteral("block t is given markup, which it does not show");
        QTest::newRow("text loose in a tag")
            << QByteArray("{{define t}}<a href={{text}}>{{raw:markup}}</a>{{end}}")
            << QStringLiteral("{{text}} stands in a tag");
        QTest::newRow("markup in an attribute value")
            << QByteArray("{{define t}}<a title=\"{{raw:markup}}\">{{text}}</a>{{end}}")
            << QStringLiteral("{{raw:markup}} stands in a tag");
        QTest::newRow("a block without end") << QByteArray("{{define t}}{{text}}{{raw:markup}}")
                                             << QStringLiteral("{{define t}} has no {{end}}");
        QTest::newRow("text outside a block")
            << QByteArray("<p>{{define t}}{{text}}{{raw:markup}}{{end}}")
            << QStringLiteral("row.html:1: text outside {{define}}");
        QTest::newRow("a block nothing renders")
            << QByteArray("{{define t}}{{text}}{{raw:markup}}{{end}}\n{{define u}}{{end}}")
            << QStringLiteral("block u is never rendered");
        QTest::newRow("a block the code asks for is missing")
            << QByteArray("{{define s}}{{end}}") << QStringLiteral("no block t");
    }

    void problems() {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        const Library library(file, QStringLiteral("row.html"));
        const Block block(library, "t", names);
        const QStringList found = library.problems();
        if (problem.isEmpty()) {
            QCOMPARE(found, QStringList());
        } else {
            QVERIFY2(found.filter(problem).size() == 1, qPrintable(found.join(u'\n')));
        }
    }

    // A description is text wherever it goes: nothing in it is escaped
    // twice, and markup does not pass for text.
    void asText_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("problem");
        QTest::newRow("text and literal as written")
            << QByteArray(".{{text}} — 文档{{newline}}") << QStringLiteral(".a<b>&c — 文档\n")
            << QString();
        QTest::newRow("markup given is left out")
            << QByteArray("{{text}}{{raw:markup}}") << QStringLiteral("a<b>&c")
            << QStringLiteral("block t is given markup and rendered as text");
        QTest::newRow("a block with tags is refused")
            << QByteArray("<b>{{text}}</b>") << QStringLiteral("a<b>&c")
            << QStringLiteral("block t holds markup and is rendered as text");
    }

    void asText() {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(QString, problem);
        const Library library("{{define t}}" + body + "{{end}}", QStringLiteral("row.html"));
        const Block block(library, "t", names);
        QCOMPARE(block.text({QStringLiteral("a<b>&c"), Value::html("<i>")}), expected);
        const QStringList found = library.problems();
        QCOMPARE(found.filter(QStringLiteral("rendered as text")),
                 problem.isEmpty() ? QStringList() : QStringList{problem});
    }

    void wrongNumberOfValuesIsReported() {
        const Library library("{{define t}}{{text}}{{raw:markup}}{{end}}", QStringLiteral("x"));
        const Block block(library, "t", names);
        QByteArray page;
        block.render(page, {QStringLiteral("only one")});
        QCOMPARE(page, QByteArray("only one"));
        QCOMPARE(library.problems(),
                 QStringList{QStringLiteral("block t is rendered with 1 values for 2 names")});
    }

    void appTemplatesAndCodeAgree() { QCOMPARE(apppages::problems(), QStringList()); }

    // The app's pages stand on no site: the one style sheet comes with them.
    void appPagesCarryTheStyleSheet() {
        const QByteArray style = templates::styleSheet();
        QVERIFY(style.contains(":root{color-scheme:light dark;"));
        const QString page = apppages::document(QStringLiteral("<题>"), Value::html("<p>x</p>"));
        QVERIFY2(page.contains(QStringLiteral("<title>&lt;题&gt;</title><style>") +
                               QString::fromUtf8(style) + QStringLiteral("</style>")),
                 qPrintable(page));
        QVERIFY2(page.contains(QLatin1String("<body class=\"compact\"><p>x</p></body>")),
                 qPrintable(page));
    }
};

QTEST_GUILESS_MAIN(TstTemplate)
#include "tst_template.moc"
