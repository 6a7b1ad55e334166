#include "notices.h"

#include "kinds.h"
#include "names.h"

#include <utility>

namespace filecheck {
namespace {

const QString dontRun = QStringLiteral("不要运行它，除非你信任发送者。");

Family familyOfExtension(const QString& extension) {
    if (extension.isEmpty())
        return Family::Unknown;
    if (!executableExtensionKind(extension).isEmpty())
        return Family::Program;
    return familyOf(typesByName(QStringLiteral("x.") + extension).value(0));
}

bool opensAsData(Family family) {
    return family != Family::Unknown && family != Family::Program && family != Family::Text;
}

QString dottedWithKind(const QString& extension) {
    const QString kind = executableExtensionKind(extension);
    const QString dotted = QStringLiteral(".") + extension;
    return kind.isEmpty() ? dotted : zh({dotted, QStringLiteral("（"), kind, QStringLiteral("）")});
}

// Without a name, what it really looks like cannot be shown; the real
// extension still can.
QString reversedName(const QString& name, const QString& extension) {
    QString text = QStringLiteral("文件名里有改变文字方向的隐藏字符，屏幕上显示的名字顺序是假的");
    if (!name.isEmpty())
        text += QStringLiteral("。它真实的样子是“%1”").arg(escapeInvisible(name));
    if (!extension.isEmpty())
        text += zh({QStringLiteral("，真正的扩展名是"), dottedWithKind(extension)});
    text += QStringLiteral("。");
    return text + (executableExtensionKind(extension).isEmpty()
                       ? QStringLiteral("请按真正的扩展名对待它。")
                       : dontRun);
}

// What opening the file will do, by its real extension: true whatever the
// content is, since the system goes by the name.
QString treatedAs(const QString& extension, const QString& inner) {
    const QString kind = executableExtensionKind(extension);
    if (kind.isEmpty())
        return QStringLiteral("请按真正的扩展名对待它。");
    const Family innerFamily = familyOfExtension(inner);
    const QString notWhatItSeems =
        opensAsData(innerFamily) ? zh({QStringLiteral("，而不是"), claimedKind(inner, innerFamily)})
                                 : QString();
    return zh({QStringLiteral("打开它时，系统会把它当作"), kind}) + notWhatItSeems +
           QStringLiteral("。") + dontRun;
}

QString blanksBeforeExtension(const QString& name, const QString& extension) {
    return zh({QStringLiteral("文件名里藏着一长串空白，把真正的扩展名"),
               QStringLiteral(".") + extension, QStringLiteral("挤出了视线。")}) +
           treatedAs(extension, innerExtensionOf(name));
}

// report.pdf.exe: a name that shows a harmless extension where the real one
// is cut off or overlooked.
QString doubleExtension(const QString& name, const QString& extension) {
    const QString inner = innerExtensionOf(name);
    if (executableExtensionKind(extension).isEmpty() || !opensAsData(familyOfExtension(inner)))
        return {};
    return zh({QStringLiteral("文件名末尾的"), QStringLiteral(".") + extension,
               QStringLiteral("才是真正的扩展名，前面的"), QStringLiteral(".") + inner,
               QStringLiteral("只是名字的一部分。")}) +
           treatedAs(extension, inner);
}

// The same for a name that is not at hand: the part before the real
// extension is not known, only that it misleads.
QString extensionOutOfSight(const QString& extension) {
    if (extension.isEmpty())
        return {};
    return zh({QStringLiteral("文件名末尾的"), QStringLiteral(".") + extension,
               QStringLiteral("才是真正的扩展名；它前面像扩展名的部分，或把它挤出视线的一长串空白，"
                              "只是名字的一部分。")}) +
           treatedAs(extension, {});
}

QString programInDisguise(const Inspection& inspection, const QString& program) {
    if (program.isEmpty() || !opensAsData(inspection.nameFamily))
        return {};
    return zh({QStringLiteral("这是一个"), program, QStringLiteral("，不是"),
               claimedKind(inspection.extension, inspection.nameFamily), QStringLiteral("。")}) +
           dontRun;
}

QString wrongFamily(const Inspection& inspection, const QString& program) {
    if (!inspection.familiesDiffer)
        return {};
    return zh({QStringLiteral("这其实是一个"),
               contentKind(inspection.type, inspection.contentFamily, program),
               QStringLiteral("，不是"), claimedKind(inspection.extension, inspection.nameFamily),
               QStringLiteral("：扩展名和内容对不上。请按它真正的类型打开；"
                              "如果是别人发来的，先向发送者问清楚。")});
}

// Said the same with or without the name: only the extension is claimed.
QString unconfirmedText(const QString& extension, Family nameFamily) {
    return zh({QStringLiteral("文件的内容证实不了它是"), claimedKind(extension, nameFamily),
               QStringLiteral("：只有名字这样说，从内容看不出这一点（文件可能已经损坏，"
                              "也可能根本不是这种文件）。打开之前，先向发送者问清楚。")});
}

// Bytes no database knows (random, all zeros) prove nothing, and plain text
// proves nothing about a document's, picture's ... extension.
QString unconfirmed(const Inspection& inspection) {
    if (inspection.outcome != Outcome::Read || inspection.extension.isEmpty() ||
        inspection.nameType.isEmpty())
        return {};
    const QString text = QStringLiteral("text/plain");
    const bool onlyText = inspection.type == text && opensAsData(inspection.nameFamily) &&
                          !isA(inspection.nameType, text);
    if (inspection.basis != Basis::Name && !onlyText)
        return {};
    return unconfirmedText(inspection.extension, inspection.nameFamily);
}

const QString linkOutOfReach =
    QStringLiteral("这个名字是一个链接，实际指向你的主文件夹和它所在的文件夹之外的地方。"
                   "这里说的是那里的东西；如果这个链接不是你自己建的，不要相信它。");

// When the type or the extension leaves a notice's own sentence with nothing
// to say, what the kind alone tells.
QString plainNotice(NoticeKind kind) {
    switch (kind) {
    case NoticeKind::ReversedName:
        return reversedName({}, {});
    case NoticeKind::HiddenExtension:
        return QStringLiteral("文件名把真正的扩展名藏了起来，它不是看上去的类型。") + dontRun;
    case NoticeKind::ProgramInDisguise:
        return QStringLiteral("这是一个程序，不是它的名字所说的类型。") + dontRun;
    case NoticeKind::WrongFamily:
        return QStringLiteral("扩展名和内容对不上。请按它真正的类型打开；"
                              "如果是别人发来的，先向发送者问清楚。");
    case NoticeKind::LinkLeadsElsewhere:
        return linkOutOfReach;
    case NoticeKind::Unconfirmed:
        return QStringLiteral(
            "文件的内容证实不了它的扩展名所说的类型。打开之前，先向发送者问清楚。");
    }
    return {};
}

const std::pair<NoticeKind, const char*> codes[] = {
    {NoticeKind::ProgramInDisguise, "program"}, {NoticeKind::HiddenExtension, "hidden"},
    {NoticeKind::ReversedName, "reversed"},     {NoticeKind::WrongFamily, "family"},
    {NoticeKind::LinkLeadsElsewhere, "link"},   {NoticeKind::Unconfirmed, "unconfirmed"}};

} // namespace

QString noticeCode(NoticeKind kind) {
    for (const auto& [known, code] : codes)
        if (known == kind)
            return QLatin1String(code);
    return {};
}

std::optional<NoticeKind> noticeKindOf(QStringView code) {
    for (const auto& [kind, known] : codes)
        if (code == QLatin1String(known))
            return kind;
    return std::nullopt;
}

QString noticeText(NoticeKind kind, const QString& type, const QString& extension) {
    Inspection told;
    told.extension = extension;
    told.type = canonicalType(type);
    told.nameType = typesByName(QStringLiteral("x.") + extension).value(0);
    told.nameFamily = familyOfExtension(extension);
    const QString program = programKind(told.type, {});
    told.contentFamily = program.isEmpty() ? familyOf(told.type) : Family::Program;
    told.familiesDiffer = true; // the kind says so
    QString text;
    switch (kind) {
    case NoticeKind::ProgramInDisguise:
        text = programInDisguise(told, program.isEmpty() ? QStringLiteral("程序") : program);
        break;
    case NoticeKind::HiddenExtension:
        text = extensionOutOfSight(extension);
        break;
    case NoticeKind::ReversedName:
        text = reversedName({}, extension);
        break;
    case NoticeKind::WrongFamily:
        if (told.contentFamily != Family::Unknown && told.nameFamily != Family::Unknown)
            text = wrongFamily(told, program);
        break;
    case NoticeKind::LinkLeadsElsewhere:
        text = linkOutOfReach;
        break;
    case NoticeKind::Unconfirmed:
        if (!extension.isEmpty())
            text = unconfirmedText(extension, told.nameFamily);
        break;
    }
    return text.isEmpty() ? plainNotice(kind) : text;
}

void addNotices(Inspection& inspection, const QString& name, const QString& program) {
    const QString& extension = inspection.extension;
    auto add = [&](NoticeKind kind, const QString& text) {
        if (!text.isEmpty())
            inspection.notices.append({kind, text});
    };
    add(NoticeKind::ProgramInDisguise, programInDisguise(inspection, program));
    if (hidesExtensionBehindBlanks(name))
        add(NoticeKind::HiddenExtension, blanksBeforeExtension(name, extension));
    else
        add(NoticeKind::HiddenExtension, doubleExtension(name, extension));
    if (hasDirectionControls(name))
        add(NoticeKind::ReversedName, reversedName(name, extension));
    if (!hasNotice(inspection, NoticeKind::ProgramInDisguise))
        add(NoticeKind::WrongFamily, wrongFamily(inspection, program));
    add(NoticeKind::Unconfirmed, unconfirmed(inspection));
}

} // namespace filecheck
