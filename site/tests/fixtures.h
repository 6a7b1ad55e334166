#pragma once

// A small world of the site's own for tests: a MIME database with one test
// type, an installed program for it, and a software catalog laid out as the
// system's, all in a temporary directory.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

inline bool writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray component(const QByteArray& id, const QByteArray& name, const QByteArray& type,
                            const QByteArray& extra = {}) {
    // "C name|Chinese name" gives both.
    const QByteArrayList names = name.split('|');
    QByteArray nameLines = "  C: " + names.first() + "\n";
    if (names.size() > 1) {
        nameLines += "  zh_CN: " + names.last() + "\n";
    }
    return "---\nType: desktop-application\nID: " + id + "\nPackage: " + id.toLower() +
           "\nName:\n" + nameLines + "Summary:\n  C: Opens test files\n" + extra +
           "Provides:\n  mediatypes:\n    - " + type + "\n";
}

// A catalog laid out as the system's: the test type, a program only for its
// parent, one already installed, a hostile name, a Chinese one with an icon.
inline QByteArray testCatalog() {
    QByteArray yaml = "---\nFile: DEP-11\nVersion: '0.16'\nOrigin: quelvix-test\n";
    for (const char* letter : {"B", "C", "D", "E", "F"}) {
        yaml += component(QByteArray("org.example.") + letter, QByteArray("Program ") + letter,
                          "application/x-quelvix-test");
    }
    yaml += component("org.example.A", "'<script>alert(1)</script>'", "application/x-quelvix-test");
    yaml += component("org.example.Zh", "Zh|中文阅读器", "application/x-quelvix-test",
                      "Icon:\n  cached:\n    - name: zh.png\n      width: 48\n"
                      "      height: 48\n");
    yaml += component("org.example.Parent", "Aaa Plain Editor", "text/plain");
    // Installed under the desktop id the test's application database has.
    yaml += component("org.example.Viewer", "Installed Viewer", "application/x-quelvix-test",
                      "Launchable:\n  desktop-id:\n    - qvx-viewer.desktop\n");
    return yaml;
}

struct TestWorld {
    // Installs one more type into the test's MIME database, as a package would.
    bool addType(const QByteArray& name, const QByteArray& comment, const QByteArray& glob) {
        return writeFile(share + "/mime/packages/" + name + ".xml",
                         "<?xml version=\"1.0\"?>\n<mime-info xmlns=\"http://www.freedesktop.org/"
                         "standards/shared-mime-info\"><mime-type type=\"application/x-" +
                             name + "\"><comment>" + comment + "</comment><glob pattern=\"" + glob +
                             "\"/></mime-type></mime-info>\n") &&
               QProcess::execute("update-mime-database", {share + "/mime"}) == 0;
    }

    QTemporaryDir dir;
    QString share = dir.filePath("share");
    QString catalog = dir.filePath("catalog");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    // With the system's data as well, or the test's alone (a MIME database
    // that knows only the test type).
    bool make(bool withSystemData) {
        const bool written =
            writeFile(share + "/mime/packages/quelvix-test.xml",
                      "<?xml version=\"1.0\"?>\n<mime-info "
                      "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">"
                      "<mime-type type=\"application/x-quelvix-test\"><comment>Quelvix test"
                      "</comment><sub-class-of type=\"text/plain\"/><glob pattern=\"*.qvxtest\"/>"
                      "<glob pattern=\"*.qvxt2\"/></mime-type>"
                      // Patterns as the desktop's database has them: one in
                      // capitals beside the lower-case one, and a range.
                      "<mime-type type=\"application/x-quelvix-patterns\"><comment>Quelvix "
                      "patterns</comment><glob pattern=\"*.qvxpat\"/><glob pattern=\"*.QVXCAP\"/>"
                      "<glob pattern=\"*.qvxn[1-3]\"/></mime-type></mime-info>\n") &&
            writeFile(share + "/applications/qvx-viewer.desktop",
                      "[Desktop Entry]\nType=Application\nExec=true %f\nName=Viewer\n"
                      "MimeType=application/x-quelvix-test;\n") &&
            writeFile(catalog + "/yaml/quelvix-test.yml", testCatalog());
        QImage icon(48, 48, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        QDir().mkpath(catalog + "/icons/quelvix-test/48x48");
        env.insert("XDG_DATA_DIRS", withSystemData ? share + ":/usr/share" : share);
        env.insert("XDG_DATA_HOME", dir.filePath("home"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
        return written && icon.save(catalog + "/icons/quelvix-test/48x48/zh.png") &&
               QProcess::execute("update-mime-database", {share + "/mime"}) == 0 &&
               QProcess::execute("update-desktop-database", {share + "/applications"}) == 0;
    }
};
