#include "sitelog.h"

#include <QLocale>

Q_LOGGING_CATEGORY(lcSite, "quelvix.site.main", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHttp, "quelvix.site.http", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCache, "quelvix.site.cache", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCatalog, "quelvix.site.catalog", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMime, "quelvix.site.mime", QtInfoMsg)
Q_LOGGING_CATEGORY(lcExport, "quelvix.site.export", QtInfoMsg)

namespace sitelog {

void setUp() {
    qSetMessagePattern(QStringLiteral("quelvix-site: %{category}: %{message}"));
}

// QT_LOGGING_RULES, when set, still has the last word.
void setDetail(Detail detail) {
    switch (detail) {
    case Detail::Quiet:
        QLoggingCategory::setFilterRules(
            QStringLiteral("quelvix.site.*.debug=false\nquelvix.site.*.info=false"));
        break;
    case Detail::Normal:
        QLoggingCategory::setFilterRules(QStringLiteral("quelvix.site.*.debug=false"));
        break;
    case Detail::Verbose:
        QLoggingCategory::setFilterRules(QStringLiteral("quelvix.site.*.debug=true"));
        break;
    }
}

// The C locale, as a bare session or a service has it, is no request for
// another language.
bool readsChinese() {
    static const bool chinese = [] {
        const QLocale::Language language = QLocale::system().language();
        return language == QLocale::Chinese || language == QLocale::C ||
               language == QLocale::AnyLanguage;
    }();
    return chinese;
}

QString say(const char* chinese, const char* english) {
    return QString::fromUtf8(readsChinese() ? chinese : english);
}

} // namespace sitelog
