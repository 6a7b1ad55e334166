#include "kinds.h"

#include <QHash>
#include <QMimeDatabase>
#include <QStringList>

namespace filecheck {
namespace {

const QString plainText = QStringLiteral("text/plain");

// Types that run when opened, with what a person would call them. Matched on
// the type itself only: in the MIME database JSON and Python descend from
// application/x-executable, and they are no programs to be warned about.
const QHash<QString, QString>& programTypes() {
    static const QHash<QString, QString> kinds = {
        {"application/x-ms-dos-executable", "Windows 程序"},
        {"application/vnd.microsoft.portable-executable", "Windows 程序"},
        {"application/x-msdownload", "Windows 程序"},
        {"application/x-dosexec", "Windows 程序"},
        {"application/x-ms-ne-executable", "Windows 程序"},
        {"application/x-msi", "Windows 安装包"},
        {"application/x-ms-installer", "Windows 安装包"},
        {"application/x-ms-shortcut", "Windows 快捷方式"},
        {"text/x-msdos-batch", "Windows 批处理脚本"},
        {"application/x-bat", "Windows 批处理脚本"},
        {"text/vbscript", "VBScript 脚本"},
        {"application/x-executable", "Linux 程序"},
        {"application/x-pie-executable", "Linux 程序"},
        {"application/x-sharedlib", "Linux 程序库"},
        {"application/vnd.appimage", "Linux 程序（AppImage）"},
        {"application/x-iso9660-appimage", "Linux 程序（AppImage）"},
        {"application/vnd.debian.binary-package", "Linux 软件安装包"},
        {"application/x-rpm", "Linux 软件安装包"},
        {"application/x-desktop", "桌面启动器"},
        {"application/x-mach-binary", "macOS 程序"},
        {"application/x-shellscript", "Shell 脚本"},
        {"application/x-csh", "Shell 脚本"},
        {"application/x-java-archive", "Java 程序"},
        {"application/vnd.android.package-archive", "Android 安装包"},
    };
    return kinds;
}

// Extensions Windows or a Linux desktop runs when the file is opened; some
// (.bat, .ps1) are plain text and known by their name alone.
const QHash<QString, QString>& executableExtensions() {
    static const QHash<QString, QString> kinds = {
        {"exe", "Windows 程序"},
        {"com", "Windows 程序"},
        {"scr", "Windows 程序（屏幕保护程序）"},
        {"pif", "Windows 程序"},
        {"cpl", "Windows 程序（控制面板项）"},
        {"msi", "Windows 安装包"},
        {"lnk", "Windows 快捷方式"},
        {"bat", "Windows 批处理脚本"},
        {"cmd", "Windows 批处理脚本"},
        {"ps1", "PowerShell 脚本"},
        {"vbs", "VBScript 脚本"},
        {"vbe", "VBScript 脚本"},
        {"js", "Windows 脚本（JScript）"},
        {"jse", "Windows 脚本（JScript）"},
        {"wsf", "Windows 脚本"},
        {"wsh", "Windows 脚本"},
        {"hta", "Windows 网页程序（HTA）"},
        {"jar", "Java 程序"},
        {"apk", "Android 安装包"},
        {"sh", "Shell 脚本"},
        {"run", "Linux 程序"},
        {"appimage", "Linux 程序（AppImage）"},
        {"desktop", "桌面启动器"},
    };
    return kinds;
}

struct FamilyRule {
    const char* prefix; // a whole type name, or a prefix ending in '.', '/' or '-'
    Family family;
};

// The first rule whose prefix the type (or, failing that, an ancestor)
// starts with decides. Specific names come before the broad prefixes they
// would otherwise fall under.
constexpr FamilyRule familyRules[] = {
    {"application/vnd.ms-cab-compressed", Family::Archive},
    {"application/vnd.ms-fontobject", Family::Font},
    {"application/vnd.ms-asf", Family::Video},
    {"application/vnd.ms-access", Family::Database},
    {"application/zip", Family::Archive},
    {"application/x-tar", Family::Archive},
    {"application/gzip", Family::Archive},
    {"application/x-bzip", Family::Archive},
    {"application/x-xz", Family::Archive},
    {"application/x-lzma", Family::Archive},
    {"application/x-lzip", Family::Archive},
    {"application/zstd", Family::Archive},
    {"application/x-compress", Family::Archive},
    {"application/x-7z-compressed", Family::Archive},
    {"application/vnd.rar", Family::Archive},
    {"application/x-cpio", Family::Archive},
    {"application/x-archive", Family::Archive},
    {"application/x-arj", Family::Archive},
    {"application/x-lha", Family::Archive},
    {"application/x-lzh-compressed", Family::Archive},
    {"application/x-ace", Family::Archive},
    {"application/x-stuffit", Family::Archive},
    {"application/vnd.sqlite3", Family::Database},
    {"application/x-sqlite2", Family::Database},
    {"application/x-msaccess", Family::Database},
    {"application/x-dbf", Family::Database},
    {"text/html", Family::WebPage},
    {"application/xhtml+xml", Family::WebPage},
    {"application/x-mimearchive", Family::WebPage},
    {"image/", Family::Picture},
    {"audio/", Family::Audio},
    {"video/", Family::Video},
    {"font/", Family::Font},
    {"application/x-font-", Family::Font},
    {"application/pdf", Family::Document},
    {"application/postscript", Family::Document},
    {"application/rtf", Family::Document},
    {"application/msword", Family::Document},
    {"application/vnd.ms-", Family::Document},
    {"application/vnd.visio", Family::Document},
    {"application/vnd.openxmlformats-officedocument.", Family::Document},
    {"application/vnd.oasis.opendocument.", Family::Document},
    {"application/vnd.sun.xml.", Family::Document},
    {"application/vnd.stardivision.", Family::Document},
    {"application/vnd.wordperfect", Family::Document},
    {"application/vnd.apple.", Family::Document},
    {"application/x-iwork-", Family::Document},
    {"application/epub+zip", Family::Document},
    {"application/x-mobipocket-ebook", Family::Document},
    {"application/vnd.amazon.", Family::Document},
    {"application/x-fictionbook", Family::Document},
    {"application/oxps", Family::Document},
    {"application/x-abiword", Family::Document},
    {"application/x-kword", Family::Document},
    {"application/x-hwp", Family::Document},
};

bool matches(const QString& type, const FamilyRule& rule) {
    const QLatin1StringView prefix(rule.prefix);
    const QChar last = prefix.back();
    if (last == u'.' || last == u'/' || last == u'-')
        return type.startsWith(prefix);
    return type == prefix;
}

Family ownFamily(const QString& type) {
    for (const FamilyRule& rule : familyRules) {
        if (matches(type, rule))
            return rule.family;
    }
    return Family::Unknown;
}

QString familyNoun(Family family) {
    switch (family) {
    case Family::Program:
        return QStringLiteral("程序");
    case Family::Document:
        return QStringLiteral("文档");
    case Family::Picture:
        return QStringLiteral("图片");
    case Family::Audio:
        return QStringLiteral("音频");
    case Family::Video:
        return QStringLiteral("视频");
    case Family::Archive:
        return QStringLiteral("压缩包");
    case Family::Text:
        return QStringLiteral("文本");
    case Family::WebPage:
        return QStringLiteral("网页");
    case Family::Database:
        return QStringLiteral("数据库");
    case Family::Font:
        return QStringLiteral("字体");
    case Family::Unknown:
        break;
    }
    return QStringLiteral("文件");
}

// The interpreter a "#!" line names: "/usr/bin/env -S python3 -u" -> "python3".
QString interpreter(const QByteArray& head) {
    const qsizetype end = head.indexOf('\n');
    const QList<QByteArray> words = head.mid(2, end < 0 ? 128 : end - 2).simplified().split(' ');
    qsizetype at = 0;
    if (!words.isEmpty() && words[0].endsWith("/env")) {
        at = 1;
        while (at < words.size() && words[at].startsWith('-'))
            ++at;
    }
    if (at >= words.size())
        return {};
    const QByteArray name = words[at].mid(words[at].lastIndexOf('/') + 1);
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain)
            return {};
    }
    return name.size() <= 24 ? QString::fromLatin1(name) : QString();
}

QString scriptKind(const QByteArray& head) {
    static const QStringList shells = {"sh",  "bash", "dash", "zsh", "ksh",    "mksh",
                                       "csh", "tcsh", "fish", "ash", "busybox"};
    const QString name = interpreter(head);
    if (name.isEmpty())
        return QStringLiteral("脚本");
    if (shells.contains(name))
        return QStringLiteral("Shell 脚本");
    return zh({name, QStringLiteral("脚本")});
}

// Ideographs only: no blank goes next to full-width punctuation.
bool isCjk(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3400 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF);
}
bool isLatin(QChar c) {
    return c.unicode() < 0x80 && c.isLetterOrNumber();
}

} // namespace

QString canonicalType(const QString& type) {
    const QMimeType known = QMimeDatabase().mimeTypeForName(type);
    return known.isValid() ? known.name() : type;
}

bool isA(const QString& type, const QString& ancestor) {
    if (type.isEmpty() || ancestor.isEmpty())
        return false;
    if (type == ancestor)
        return true;
    const QMimeType known = QMimeDatabase().mimeTypeForName(type);
    if (known.isValid())
        return known.inherits(ancestor);
    return ancestor == plainText && type.startsWith(QLatin1StringView("text/"));
}

bool related(const QString& a, const QString& b) {
    return isA(a, b) || isA(b, a);
}

Family familyOf(const QString& type) {
    if (type.isEmpty())
        return Family::Unknown;
    if (programTypes().contains(type))
        return Family::Program;
    if (const Family own = ownFamily(type); own != Family::Unknown)
        return own;
    const QMimeType known = QMimeDatabase().mimeTypeForName(type);
    for (const QString& ancestor : known.allAncestors()) {
        if (const Family family = ownFamily(ancestor); family != Family::Unknown)
            return family;
    }
    return isA(type, plainText) ? Family::Text : Family::Unknown;
}

QString programKind(const QString& type, const QByteArray& head) {
    if (const auto kind = programTypes().constFind(type); kind != programTypes().cend())
        return kind.value();
    return head.startsWith("#!") ? scriptKind(head) : QString();
}

QString executableExtensionKind(const QString& extension) {
    return executableExtensions().value(extension.toLower());
}

QString claimedKind(const QString& extension, Family family) {
    return zh({extension.toUpper(), familyNoun(family)});
}

QString contentKind(const QString& type, Family family, const QString& program) {
    if (!program.isEmpty())
        return program;
    static const QHash<QString, QString> spelled = {{"gz", "GZIP"}, {"sqlite3", "SQLite"}};
    const QString suffix = QMimeDatabase().mimeTypeForName(type).preferredSuffix();
    return zh({spelled.value(suffix, suffix.toUpper()), familyNoun(family)});
}

QString zh(std::initializer_list<QString> parts) {
    QString out;
    for (const QString& part : parts) {
        if (part.isEmpty())
            continue;
        // ".exe" reads as a Latin word.
        const bool latinStart = isLatin(part.front()) || part.front() == u'.';
        if (!out.isEmpty() &&
            ((isCjk(out.back()) && latinStart) || (isLatin(out.back()) && isCjk(part.front()))))
            out += u' ';
        out += part;
    }
    return out;
}

} // namespace filecheck
