// filecheck::inspect() over the paths on standard input (NUL-separated), for
// bench/detect.sh.
//     bench_detect time  prints "nanoseconds<TAB>path" per file, each the
//                        median of three calls after a warming pass, then
//                        "batch<TAB>nanoseconds<TAB>files" for one whole pass
//     bench_detect show  prints what inspect() found, one block per file
#include "filecheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

namespace {

QList<QByteArray> pathsOnInput() {
    const std::string input((std::istreambuf_iterator<char>(std::cin)),
                            std::istreambuf_iterator<char>());
    QList<QByteArray> paths = QByteArray::fromStdString(input).split('\0');
    paths.removeAll(QByteArray());
    return paths;
}

qint64 timed(const QByteArray& path) {
    QElapsedTimer timer;
    timer.start();
    const filecheck::Inspection inspection = filecheck::inspectNative(path);
    const qint64 elapsed = timer.nsecsElapsed();
    if (inspection.outcome != filecheck::Outcome::Read && inspection.sentence.isEmpty())
        std::fprintf(stderr, "no answer for %s\n", path.constData());
    return elapsed;
}

void time(const QList<QByteArray>& paths) {
    for (const QByteArray& path : paths)
        timed(path);
    for (const QByteArray& path : paths) {
        std::array<qint64, 3> runs{timed(path), timed(path), timed(path)};
        std::sort(runs.begin(), runs.end());
        std::printf("%lld\t%s\n", static_cast<long long>(runs[1]), path.constData());
    }
    QElapsedTimer timer;
    timer.start();
    for (const QByteArray& path : paths)
        filecheck::inspectNative(path);
    std::printf("batch\t%lld\t%lld\n", static_cast<long long>(timer.nsecsElapsed()),
                static_cast<long long>(paths.size()));
}

void show(const QList<QByteArray>& paths) {
    for (const QByteArray& path : paths) {
        const filecheck::Inspection found = filecheck::inspectNative(path);
        std::printf("%s\n  name %s | extension %s | type %s (basis %d)\n"
                    "  content %s | libmagic %s | name %s | families %d/%d%s\n",
                    path.constData(), qUtf8Printable(found.name), qUtf8Printable(found.extension),
                    qUtf8Printable(found.type), int(found.basis), qUtf8Printable(found.contentType),
                    qUtf8Printable(found.magicType), qUtf8Printable(found.nameType),
                    int(found.contentFamily), int(found.nameFamily),
                    found.familiesDiffer ? " differ" : "");
        if (!found.sentence.isEmpty())
            std::printf("  %s\n", qUtf8Printable(found.sentence));
        for (const filecheck::Notice& notice : found.notices)
            std::printf("  ! %s\n", qUtf8Printable(notice.text));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode == "time") {
        time(pathsOnInput());
    } else if (mode == "show") {
        show(pathsOnInput());
    } else {
        std::fprintf(stderr, "usage: %s time|show < NUL-separated paths\n", argv[0]);
        return 2;
    }
    return 0;
}
