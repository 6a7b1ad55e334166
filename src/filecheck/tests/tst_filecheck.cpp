#include "filecheck.h"

#include <QBuffer>
#include <QDirIterator>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using filecheck::NoticeKind;
using filecheck::Outcome;

namespace {

QStringList noticeNames(const filecheck::Inspection& inspection) {
    QStringList names;
    for (const filecheck::Notice& notice : inspection.notices) {
        switch (notice.kind) {
        case NoticeKind::ReversedName:
            names << "reversed name";
            break;
        case NoticeKind::HiddenExtension:
            names << "hidden extension";
            break;
        case NoticeKind::ProgramInDisguise:
            names << "program in disguise";
            break;
        case NoticeKind::WrongFamily:
            names << "wrong family";
            break;
        case NoticeKind::LinkLeadsElsewhere:
            names << "link leads elsewhere";
            break;
        case NoticeKind::Unconfirmed:
            names << "content unconfirmed";
            break;
        }
    }
    return names;
}

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Read:
        return "read";
    case Outcome::Empty:
        return "empty";
    case Outcome::Missing:
        return "missing";
    case Outcome::NoPermission:
        return "no permission";
    case Outcome::Folder:
        return "folder";
    case Outcome::Device:
        return "device";
    case Outcome::Pipe:
        return "pipe";
    case Outcome::Socket:
        return "socket";
    case Outcome::Unreadable:
        return "unreadable";
    case Outcome::LinkElsewhere:
        return "link elsewhere";
    }
    return "?";
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString firstFile(const QString& root, const QString& pattern) {
    QDirIterator it(root, {pattern}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

QByteArray jpegFrom(const QByteArray& png) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImage::fromData(png, "PNG").convertToFormat(QImage::Format_RGB32).save(&buffer, "JPEG");
    return jpeg;
}

QByteArray pdf() {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    QPainter painter(&writer);
    painter.drawText(QPointF(100, 100), QStringLiteral("发票 2024-001"));
    painter.end();
    return bytes;
}

// Runs a python3 program that writes the file at its first argument.
QByteArray fromPython(const QString& program, const QString& path) {
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        return {};
    QProcess process;
    process.start(python, {"-c", program, path});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    return readAll(path);
}

// The outcome of inspect() on a thread of its own, so that a call that
// blocks fails the test instead of hanging it.
class Watchdog {
public:
    explicit Watchdog(std::function<filecheck::Inspection()> call)
        : state_(std::make_shared<State>()) {
        std::thread([state = state_, call] {
            state->result = call();
            state->done = true;
        }).detach();
    }
    bool done() const { return state_->done; }
    filecheck::Inspection result() const { return state_->result; }

private:
    struct State {
        std::atomic<bool> done = false;
        filecheck::Inspection result;
    };
    std::shared_ptr<State> state_;
};

} // namespace

class TestFilecheck : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void detection_data();
    void detection();
    void awkward_data();
    void awkward();
    void lyingProgramGetsThePlainSentence();

private:
    QString write(const QString& name, const QByteArray& bytes);
    QByteArray makeAwkward(const QString& kind);

    QTemporaryDir dir_;
    QHash<QString, QByteArray> samples_;
    QHash<QString, QString> missing_;
};

void TestFilecheck::initTestCase() {
    QVERIFY(dir_.isValid());
    // As the app reads them: the site's format table before the desktop's.
    if (!QString(QUELVIX_OWN_DATA).isEmpty()) {
        qputenv("XDG_DATA_DIRS", QUELVIX_OWN_DATA ":/usr/local/share:/usr/share");
    }
    const QString work = dir_.filePath("work");
    QVERIFY(QDir().mkpath(work));
    samples_["png"] = readAll(firstFile("/usr/share/icons", "*.png"));
    samples_["svg"] = readAll(firstFile("/usr/share/icons", "*.svg"));
    samples_["jpeg"] = jpegFrom(samples_["png"]);
    samples_["pdf"] = pdf();
    samples_["zip"] = fromPython("import sys, zipfile\n"
                                 "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                 "    z.writestr('readme.txt', 'hello')\n",
                                 work + "/sample.zip");
    samples_["elf"] = readAll("/bin/true");
    samples_["exe"] = readAll(QStringLiteral(WINDOWS_PROGRAM));
    samples_["gzip"] = readAll(firstFile("/usr/share/doc", "changelog.Debian.gz"));
    samples_["sqlite"] = fromPython("import sys, sqlite3\n"
                                    "c = sqlite3.connect(sys.argv[1])\n"
                                    "c.execute('create table bills (amount)')\n"
                                    "c.commit()\n",
                                    work + "/sample.sqlite3");
    // An OLE2 compound file's header, as WPS Office and old Microsoft Office write.
    samples_["ole"] = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(16, '\0') +
                      QByteArray::fromHex("3e000300feff0900060000") + QByteArray(4096, '\0');
    samples_["script"] = "#!/bin/sh\nset -eu\necho \"$1\" >\"$2\"\n";
    // Bytes that match no signature, the same on every run.
    QByteArray noise(64 * 1024, Qt::Uninitialized);
    std::mt19937 bits(20240517);
    std::generate(noise.begin(), noise.end(), [&bits] { return char(bits() >> 24); });
    samples_["random"] = noise;
    samples_["zeros"] = QByteArray(64 * 1024, '\0');
    samples_["PDF magic alone"] = "%PDF";
    samples_["html"] = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<title>发票</title></head><body><p>请查收。</p></body></html>\n";
    missing_["exe"] = "no MinGW-w64 C compiler to build a Windows program";
    missing_["zip"] = missing_["sqlite"] = "python3 could not write the sample";
    missing_["png"] = missing_["svg"] = "no icons under /usr/share/icons";
    missing_["jpeg"] = "no PNG to convert";
    missing_["gzip"] = "no changelog.Debian.gz under /usr/share/doc";
}

QString TestFilecheck::write(const QString& name, const QByteArray& bytes) {
    const QString path = dir_.filePath(name);
    QFile::remove(path); // never write through a link a row left behind
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestFilecheck::detection_data() {
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("notices");
    const QStringList none;
    const QStringList wrongFamily{"wrong family"};
    const QStringList disguise{"program in disguise"};
    const QStringList hidden{"hidden extension"};

    // Works and WPS share .wps and one container: the page for .wps puts
    // WPS first, and a file named so must be called the same.
    QTest::newRow("WPS document, as its extension's page means it") << "ole"
                                                                    << "报告.wps"
                                                                    << "application/wps-office.wps"
                                                                    << "wps" << none;
    QTest::newRow("PNG") << "png"
                         << "icon.png"
                         << "image/png"
                         << "png" << none;
    QTest::newRow("PNG named .pdf") << "png"
                                    << "scan.pdf"
                                    << "image/png"
                                    << "pdf" << wrongFamily;
    QTest::newRow("PNG named .jpg, still a picture") << "png"
                                                     << "photo.JPG"
                                                     << "image/png"
                                                     << "JPG" << none;
    QTest::newRow("PNG without extension") << "png"
                                           << "icon"
                                           << "image/png"
                                           << "" << none;
    QTest::newRow("SVG") << "svg"
                         << "logo.svg"
                         << "image/svg+xml"
                         << "svg" << none;
    QTest::newRow("SVG named .xml, which it is") << "svg"
                                                 << "logo.xml"
                                                 << "image/svg+xml"
                                                 << "xml" << none;
    QTest::newRow("SVG without extension") << "svg"
                                           << "logo"
                                           << "image/svg+xml"
                                           << "" << none;
    QTest::newRow("JPEG") << "jpeg"
                          << "photo.jpg"
                          << "image/jpeg"
                          << "jpg" << none;
    QTest::newRow("JPEG named .mp4") << "jpeg"
                                     << "clip.mp4"
                                     << "image/jpeg"
                                     << "mp4" << wrongFamily;
    QTest::newRow("JPEG without extension") << "jpeg"
                                            << "photo"
                                            << "image/jpeg"
                                            << "" << none;
    QTest::newRow("PDF") << "pdf"
                         << "发票.pdf"
                         << "application/pdf"
                         << "pdf" << none;
    QTest::newRow("PDF named .jpg") << "pdf"
                                    << "发票.jpg"
                                    << "application/pdf"
                                    << "jpg" << wrongFamily;
    QTest::newRow("PDF without extension") << "pdf"
                                           << "发票"
                                           << "application/pdf"
                                           << "" << none;
    QTest::newRow("ZIP") << "zip"
                         << "files.zip"
                         << "application/zip"
                         << "zip" << none;
    QTest::newRow("ZIP named .jpg") << "zip"
                                    << "photo.jpg"
                                    << "application/zip"
                                    << "jpg" << wrongFamily;
    QTest::newRow("ZIP named .docx, its container")
        << "zip"
        << "letter.docx"
        << "application/vnd.openxmlformats-officedocument.wordprocessingml.document"
        << "docx" << none;
    QTest::newRow("ZIP without extension") << "zip"
                                           << "files"
                                           << "application/zip"
                                           << "" << none;
    // /bin/true is position-independent: the MIME database reads an
    // executable, libmagic a shared library, and the name settles it.
    QTest::newRow("ELF named .so, where the two opinions differ") << "elf"
                                                                  << "libtrue.so"
                                                                  << "application/x-sharedlib"
                                                                  << "so" << none;
    QTest::newRow("ELF named .pdf") << "elf"
                                    << "report.pdf"
                                    << "application/x-executable"
                                    << "pdf" << disguise;
    QTest::newRow("ELF without extension") << "elf"
                                           << "true"
                                           << "application/x-executable"
                                           << "" << none;
    QTest::newRow("Windows program") << "exe"
                                     << "setup.exe"
                                     << "application/x-ms-dos-executable"
                                     << "exe" << none;
    QTest::newRow("Windows program named .pdf") << "exe"
                                                << "发票.pdf"
                                                << "application/x-ms-dos-executable"
                                                << "pdf" << disguise;
    QTest::newRow("Windows program named .pdf.exe") << "exe"
                                                    << "发票.pdf.exe"
                                                    << "application/x-ms-dos-executable"
                                                    << "exe" << hidden;
    QTest::newRow("Windows program, .exe behind blanks") << "exe"
                                                         << "report.pdf                    .exe"
                                                         << "application/x-ms-dos-executable"
                                                         << "exe" << hidden;
    QTest::newRow("Windows program without extension") << "exe"
                                                       << "setup"
                                                       << "application/x-ms-dos-executable"
                                                       << "" << none;
    QTest::newRow("gzip") << "gzip"
                          << "changelog.gz"
                          << "application/gzip"
                          << "gz" << none;
    QTest::newRow("gzip named .png") << "gzip"
                                     << "chart.png"
                                     << "application/gzip"
                                     << "png" << wrongFamily;
    QTest::newRow("gzip named .tar.gz, a kind of gzip") << "gzip"
                                                        << "backup.tar.gz"
                                                        << "application/x-compressed-tar"
                                                        << "gz" << none;
    QTest::newRow("gzip without extension") << "gzip"
                                            << "changelog"
                                            << "application/gzip"
                                            << "" << none;
    QTest::newRow("SQLite") << "sqlite"
                            << "bills.sqlite3"
                            << "application/vnd.sqlite3"
                            << "sqlite3" << none;
    QTest::newRow("SQLite named .txt") << "sqlite"
                                       << "bills.txt"
                                       << "application/vnd.sqlite3"
                                       << "txt" << wrongFamily;
    QTest::newRow("SQLite without extension") << "sqlite"
                                              << "bills"
                                              << "application/vnd.sqlite3"
                                              << "" << none;
    QTest::newRow("shell script") << "script"
                                  << "save.sh"
                                  << "application/x-shellscript"
                                  << "sh" << none;
    QTest::newRow("shell script named .pdf") << "script"
                                             << "save.pdf"
                                             << "application/x-shellscript"
                                             << "pdf" << disguise;
    QTest::newRow("shell script named .txt, which it is") << "script"
                                                          << "save.txt"
                                                          << "application/x-shellscript"
                                                          << "txt" << none;
    QTest::newRow("shell script named .ts, which may be TypeScript") << "script"
                                                                     << "build.ts"
                                                                     << "application/x-shellscript"
                                                                     << "ts" << none;
    QTest::newRow("shell script without extension") << "script"
                                                    << "save"
                                                    << "application/x-shellscript"
                                                    << "" << none;
    QTest::newRow("HTML") << "html"
                          << "invoice.html"
                          << "text/html"
                          << "html" << none;
    QTest::newRow("HTML named .pdf") << "html"
                                     << "invoice.pdf"
                                     << "text/html"
                                     << "pdf" << wrongFamily;
    QTest::newRow("HTML without extension") << "html"
                                            << "invoice"
                                            << "text/html"
                                            << "" << none;
    // Content that bears out nothing: the name alone may not make it a PDF.
    const QStringList unconfirmed{"content unconfirmed"};
    QTest::newRow("random bytes named .pdf") << "random"
                                             << "rand.pdf"
                                             << ""
                                             << "pdf" << unconfirmed;
    QTest::newRow("zeros named .pdf") << "zeros"
                                      << "zeros.pdf"
                                      << ""
                                      << "pdf" << unconfirmed;
    QTest::newRow("%PDF alone: text, not MATLAB") << "PDF magic alone"
                                                  << "broken.pdf"
                                                  << "text/plain"
                                                  << "pdf" << unconfirmed;
    // What follows the last dot is no extension.
    QTest::newRow("program named after its version") << "elf"
                                                     << "pas2jni-3.2.2"
                                                     << "application/x-executable"
                                                     << "" << none;
    QTest::newRow("a sentence after the dot") << "pdf"
                                              << "report.salary-of-zhang-san-2024"
                                              << "application/pdf"
                                              << "" << none;
}

void TestFilecheck::detection() {
    QFETCH(QString, sample);
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QString, extension);
    QFETCH(QStringList, notices);
    if (samples_.value(sample).isEmpty())
        QSKIP(qPrintable("not run: " + missing_.value(sample)));

    const filecheck::Inspection inspection = filecheck::inspect(write(name, samples_[sample]));
    QCOMPARE(outcomeName(inspection.outcome), outcomeName(Outcome::Read));
    QCOMPARE(filecheck::confirmedType(inspection), type);
    QCOMPARE(inspection.extension, extension);
    QCOMPARE(noticeNames(inspection), notices);
    // The site words a notice from the kind, the type and the extension
    // alone; where the name adds nothing, it must say what the app says.
    for (const filecheck::Notice& notice : inspection.notices) {
        if (notice.kind == filecheck::NoticeKind::ProgramInDisguise ||
            notice.kind == filecheck::NoticeKind::WrongFamily ||
            notice.kind == filecheck::NoticeKind::Unconfirmed) {
            QCOMPARE(filecheck::noticeText(notice.kind, inspection.type, inspection.extension),
                     notice.text);
        }
    }
}

void TestFilecheck::lyingProgramGetsThePlainSentence() {
    if (samples_.value("exe").isEmpty())
        QSKIP(qPrintable("not run: " + missing_.value("exe")));
    const filecheck::Inspection inspection = filecheck::inspect(write("发票.pdf", samples_["exe"]));
    QCOMPARE(inspection.notices.size(), 1);
    QCOMPARE(
        inspection.notices[0].text,
        QStringLiteral("这是一个 Windows 程序，不是 PDF 文档。不要运行它，除非你信任发送者。"));
}

// Makes the thing the row names and returns the path to inspect.
QByteArray TestFilecheck::makeAwkward(const QString& kind) {
    const QByteArray base = QFile::encodeName(dir_.path()) + "/";
    if (kind == "fifo") {
        mkfifo(base + "pipe", 0600);
        return base + "pipe";
    }
    if (kind == "socket") {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = base + "sock";
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        close(fd);
        return path;
    }
    if (kind == "folder")
        return base.chopped(1);
    if (kind == "unreadable") {
        const QString path = write("locked.pdf", samples_["pdf"]);
        chmod(QFile::encodeName(path), 0);
        chmod(QFile::encodeName(dir_.path()), 0711); // only the file itself is closed
        return QFile::encodeName(path);
    }
    if (kind == "missing")
        return base + "gone.pdf";
    if (kind == "dangling link") {
        symlink((base + "gone.pdf").constData(), base + "link.pdf");
        return base + "link.pdf";
    }
    if (kind == "link loop") {
        symlink((base + "loop-b").constData(), base + "loop-a");
        symlink((base + "loop-a").constData(), base + "loop-b");
        return base + "loop-a";
    }
    if (kind == "empty")
        return QFile::encodeName(write("empty.pdf", {}));
    if (kind == "sparse" || kind == "sparse named .pdf") {
        QFile file(dir_.filePath(kind == "sparse" ? "disk.img" : "big.pdf"));
        if (!file.open(QIODevice::WriteOnly) || !file.resize(4LL << 30))
            return {};
        return QFile::encodeName(file.fileName());
    }
    if (kind == "link out") {
        symlink("/etc/passwd", base + "notes.txt");
        return base + "notes.txt";
    }
    if (kind == "reversed")
        return QFile::encodeName(write(QString::fromUtf8("photo\u202Egpj.sh"), samples_["script"]));
    if (kind == "not UTF-8") {
        const QByteArray path = base + "\xff\xfe.pdf";
        const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
        ::write(fd, samples_["pdf"].constData(), size_t(samples_["pdf"].size()));
        ::close(fd);
        return path;
    }
    if (kind == "NUL") {
        // Cut at the NUL, the path would name a file that is there.
        write("before-nul.txt", "hello\n");
        return base + "before-nul.txt" + '\0' + ".pdf";
    }
    return kind.toUtf8(); // a device given by its path
}

void TestFilecheck::awkward_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("notices");
    const QStringList none;
    QTest::newRow("FIFO without a writer") << "fifo" << Outcome::Pipe << "管道" << none;
    QTest::newRow("socket") << "socket" << Outcome::Socket << "套接字" << none;
    QTest::newRow("/dev/null") << "/dev/null" << Outcome::Device << "设备" << none;
    QTest::newRow("/dev/zero, endless") << "/dev/zero" << Outcome::Device << "设备" << none;
    QTest::newRow("folder") << "folder" << Outcome::Folder << "文件夹" << none;
    QTest::newRow("no permission") << "unreadable" << Outcome::NoPermission << "权限" << none;
    QTest::newRow("missing") << "missing" << Outcome::Missing << "找不到" << none;
    QTest::newRow("link to nothing") << "dangling link" << Outcome::Missing << "链接" << none;
    QTest::newRow("link loop") << "link loop" << Outcome::Unreadable << "圈" << none;
    QTest::newRow("empty") << "empty" << Outcome::Empty << "空文件" << none;
    const QStringList unconfirmed{"content unconfirmed"};
    QTest::newRow("4 GB sparse") << "sparse" << Outcome::Read << "" << unconfirmed;
    QTest::newRow("4 GB sparse named .pdf")
        << "sparse named .pdf" << Outcome::Read << "" << unconfirmed;
    // Not what was given, so not read: only where it leads is said.
    QTest::newRow("link to /etc/passwd")
        << "link out" << Outcome::LinkElsewhere << "“/etc/passwd”" << none;
    QTest::newRow("U+202E in the name")
        << "reversed" << Outcome::Read << "" << QStringList{"reversed name"};
    QTest::newRow("NUL in the path") << "NUL" << Outcome::Unreadable << "无效" << none;
    QTest::newRow("name not UTF-8") << "not UTF-8" << Outcome::Read << "" << none;
}

void TestFilecheck::awkward() {
    QFETCH(QString, kind);
    QFETCH(Outcome, outcome);
    QFETCH(QString, says);
    QFETCH(QStringList, notices);
    const QByteArray path = makeAwkward(kind);
    QVERIFY2(!path.isEmpty(), "could not make the file");
    // Root reads everything; the unreadable file is tried as nobody.
    const bool asNobody = kind == "unreadable" && geteuid() == 0;
    if (asNobody && seteuid(65534) != 0)
        QSKIP("not run: cannot drop root privileges to try an unreadable file");
    const auto backToRoot = qScopeGuard([asNobody] {
        if (asNobody && seteuid(0) != 0)
            qFatal("cannot return to root");
    });

    const Watchdog call([path] { return filecheck::inspectNative(path); });
    QTRY_VERIFY_WITH_TIMEOUT(call.done(), 20000);

    const filecheck::Inspection inspection = call.result();
    if (kind == "not UTF-8")
        ::unlink(path.constData()); // QTemporaryDir cannot spell its name
    QCOMPARE(outcomeName(inspection.outcome), outcomeName(outcome));
    QVERIFY2(inspection.sentence.contains(says), qPrintable(inspection.sentence));
    QCOMPARE(inspection.sentence.isEmpty(), outcome == Outcome::Read);
    QCOMPARE(noticeNames(inspection), notices);
    if (kind == "reversed") {
        QCOMPARE(inspection.name, QStringLiteral("photo«U+202E»gpj.sh"));
        QCOMPARE(inspection.extension, QStringLiteral("sh"));
        QVERIFY(inspection.notices[0].text.contains("photo«U+202E»gpj.sh"));
    }
    if (kind == "not UTF-8")
        QCOMPARE(inspection.type, QStringLiteral("application/pdf"));
}

QTEST_MAIN(TestFilecheck)
#include "tst_filecheck.moc"
