// filecheck::inspect() over the paths on standard input (NUL-separated), for
// bench/detect.sh.
//     bench_detect time  prints "wall<TAB>cpu<TAB>path" per file in
//                        nanoseconds, each the median of three calls after a
//                        warming pass, then "batch<TAB>wall<TAB>cpu<TAB>files"
//                        for one whole pass
//     bench_detect show  prints what inspect() found, one block per file
#include "filecheck.h"
#include "owndata.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
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

struct Cost {
    qint64 wall;
    qint64 cpu; // this thread's processor time: what the call costs on a busy machine
};

qint64 threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

Cost timed(const QByteArray& path) {
    QElapsedTimer timer;
    const qint64 cpu = threadCpuNanoseconds();
    timer.start();
    const filecheck::Inspection inspection = filecheck::inspectNative(path);
    const Cost cost{timer.nsecsElapsed(), threadCpuNanoseconds() - cpu};
    if (inspection.outcome != filecheck::Outcome::Read && inspection.sentence.isEmpty())
        std::fprintf(stderr, "no answer for %s\n", path.constData());
    return cost;
}

qint64 median(std::array<qint64, 3> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[1];
}

void time(const QList<QByteArray>& paths) {
    for (const QByteArray& path : paths)
        timed(path);
    for (const QByteArray& path : paths) {
        const std::array<Cost, 3> runs{timed(path), timed(path), timed(path)};
        std::printf("%lld\t%lld\t%s\n",
                    static_cast<long long>(median({runs[0].wall, runs[1].wall, runs[2].wall})),
                    static_cast<long long>(median({runs[0].cpu, runs[1].cpu, runs[2].cpu})),
                    path.constData());
    }
    QElapsedTimer timer;
    const qint64 cpu = threadCpuNanoseconds();
    timer.start();
    for (const QByteArray& path : paths)
        filecheck::inspectNative(path);
    std::printf("batch\t%lld\t%lld\t%lld\n", static_cast<long long>(timer.nsecsElapsed()),
                static_cast<long long>(threadCpuNanoseconds() - cpu),
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
    // As the app looks: the site's format table before the desktop's.
    owndata::putFirst();
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
