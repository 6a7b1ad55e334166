#include "mimecheck.h"

#include <QFile>
#include <QHash>
#include <QtEndian>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace mimecheck {
namespace {

constexpr quint64 headerBytes = 40;
// The system's whole database makes a cache of about 150 kB.
constexpr qint64 maxCacheBytes = 64 << 20;
// Real suffix trees are about 20 levels deep and magic rules under 10.
constexpr int maxDepth = 256;
// What a reader looks at of a file's start for its magic; the system's
// database needs under 20 kB.
constexpr quint32 maxExtent = 1 << 20;
constexpr quint32 maxCodePoint = 0x10FFFF;

constexpr quint64 aliasBytes = 8;
constexpr quint64 parentBytes = 8;
constexpr quint64 globBytes = 12;
constexpr quint64 nodeBytes = 12;
constexpr quint64 matchBytes = 16;
constexpr quint64 matchletBytes = 32;
constexpr quint64 namespaceBytes = 12;
constexpr quint64 iconBytes = 8;

struct Damaged {
    QString why;
};

void need(bool ok, const char* table, const char* problem) {
    if (!ok) {
        throw Damaged{QString::fromUtf8(table) + QStringLiteral("：") + QString::fromUtf8(problem)};
    }
}

// Reads numbers and checks places, never past the file's end.
class Reader {
public:
    explicit Reader(QByteArrayView data)
        : m_data(data)
        , m_lastNul(data.lastIndexOf('\0')) {}

    quint64 size() const { return quint64(m_data.size()); }

    quint32 card32(quint64 at, const char* table) const {
        need(at <= size() && size() - at >= 4, table, "超出文件末尾");
        return qFromBigEndian<quint32>(m_data.data() + at);
    }

    // Count entries of the given size from `at` on.
    void needEntries(quint64 at, quint64 count, quint64 entryBytes, const char* table) const {
        need(count == 0 || (at <= size() && count * entryBytes <= size() - at), table,
             "超出文件末尾");
    }

    // A string ends wherever a NUL follows it, so one that starts at or
    // before the file's last NUL ends inside the file.
    void needString(quint32 at, const char* table) const {
        need(m_lastNul >= 0 && at <= quint64(m_lastNul), table, "有字符串在文件外或没有结尾");
    }

    // A string already known to end inside the file.
    QByteArray string(quint32 at) const { return QByteArray(m_data.data() + at); }

private:
    QByteArrayView m_data;
    qsizetype m_lastNul;
};

// A list: its count, then entries whose fields at the given places are strings.
void checkList(const Reader& reader, quint32 list, quint64 entryBytes,
               std::initializer_list<quint64> stringFields, const char* table) {
    const quint32 count = reader.card32(list, table);
    reader.needEntries(quint64(list) + 4, count, entryBytes, table);
    for (quint64 i = 0; i < count; ++i) {
        const quint64 entry = quint64(list) + 4 + i * entryBytes;
        for (quint64 field : stringFields) {
            reader.needString(reader.card32(entry + field, table), table);
        }
    }
}

// Whether following parents from `type` comes back to a type on the way.
bool leadsInCircle(const QHash<QByteArray, QList<QByteArray>>& parentsOf, const QByteArray& type,
                   QHash<QByteArray, int>* state, int depth) {
    // 1: on the way from where the walk began; 2: known to end.
    const int seen = state->value(type);
    if (seen != 0 || depth > maxDepth) {
        return seen == 1 || depth > maxDepth;
    }
    state->insert(type, 1);
    for (const QByteArray& parent : parentsOf.value(type)) {
        if (leadsInCircle(parentsOf, parent, state, depth + 1)) {
            return true;
        }
    }
    state->insert(type, 2);
    return false;
}

void checkParents(const Reader& reader, quint32 list) {
    const char* table = "父类型表";
    checkList(reader, list, parentBytes, {0}, table);
    const quint32 count = reader.card32(list, table);
    QHash<QByteArray, QList<QByteArray>> parentsOf;
    for (quint64 i = 0; i < count; ++i) {
        const quint64 entry = quint64(list) + 4 + i * parentBytes;
        const quint32 parents = reader.card32(entry + 4, table);
        checkList(reader, parents, 4, {0}, table);
        QList<QByteArray>& named = parentsOf[reader.string(reader.card32(entry, table))];
        for (quint64 j = 0; j < reader.card32(parents, table); ++j) {
            named << reader.string(reader.card32(quint64(parents) + 4 + j * 4, table));
        }
    }
    // Qt asks for a type's ancestors by recursion, which a circle never ends.
    QHash<QByteArray, int> state;
    for (auto type = parentsOf.cbegin(); type != parentsOf.cend(); ++type) {
        need(!leadsInCircle(parentsOf, type.key(), &state, 0), table, "父类型有环");
    }
}

// Nodes of a tree stored as runs of siblings; each node may be reached once,
// so a loop or a shared run is found as soon as it closes.
class Tree {
public:
    Tree(const Reader& reader, quint64 bytesPerNode, const char* table)
        : m_reader(reader)
        , m_nodeBytes(bytesPerNode)
        , m_table(table)
        , m_seen(reader.size(), false) {}

    // The run of siblings, checked to lie in the file and to be new.
    void enter(quint32 first, quint32 count, int depth) {
        need(depth <= maxDepth, m_table, "有环或太深");
        m_reader.needEntries(first, count, m_nodeBytes, m_table);
        for (quint64 i = 0; i < count; ++i) {
            const quint64 node = first + i * m_nodeBytes;
            need(!m_seen[node], m_table, "有环");
            m_seen[node] = true;
        }
    }

    const Reader& reader() const { return m_reader; }
    const char* table() const { return m_table; }

private:
    const Reader& m_reader;
    const quint64 m_nodeBytes;
    const char* m_table;
    std::vector<bool> m_seen;
};

void checkSuffixNodes(Tree& tree, quint32 first, quint32 count, int depth) {
    tree.enter(first, count, depth);
    const Reader& reader = tree.reader();
    for (quint64 i = 0; i < count; ++i) {
        const quint64 node = first + i * nodeBytes;
        const quint32 character = reader.card32(node, tree.table());
        if (character == 0) {
            reader.needString(reader.card32(node + 4, tree.table()), tree.table());
            continue;
        }
        need(character <= maxCodePoint, tree.table(), "有字符不是 Unicode 码位");
        checkSuffixNodes(tree, reader.card32(node + 8, tree.table()),
                         reader.card32(node + 4, tree.table()), depth + 1);
    }
}

void checkSuffixTree(const Reader& reader, quint32 root) {
    const char* table = "后缀树";
    Tree tree(reader, nodeBytes, table);
    checkSuffixNodes(tree, reader.card32(quint64(root) + 4, table), reader.card32(root, table), 1);
}

struct Matchlet {
    quint32 rangeStart, rangeLength, wordSize, valueLength, value, mask, children, firstChild;
};

Matchlet matchletAt(const Reader& reader, quint64 at, const char* table) {
    Matchlet m{};
    quint32* fields[] = {&m.rangeStart, &m.rangeLength, &m.wordSize, &m.valueLength,
                         &m.value,      &m.mask,        &m.children, &m.firstChild};
    for (quint64 i = 0; i < 8; ++i) {
        *fields[i] = reader.card32(at + 4 * i, table);
    }
    return m;
}

// Each rule compares bytes of the file, its value and mask, within what the
// list says a reader must look at.
void checkMatchlets(Tree& tree, quint32 first, quint32 count, int depth, quint32 extent) {
    tree.enter(first, count, depth);
    const char* table = tree.table();
    for (quint64 i = 0; i < count; ++i) {
        const Matchlet m = matchletAt(tree.reader(), first + i * matchletBytes, table);
        need(quint64(m.rangeStart) + m.rangeLength + m.valueLength <= extent, table,
             "有规则超出它声明的范围");
        need(m.wordSize == 1 || m.wordSize == 2 || m.wordSize == 4, table, "有字宽不是 1、2 或 4");
        need(m.valueLength % m.wordSize == 0, table, "有值的长度不是字宽的倍数");
        tree.reader().needEntries(m.value, m.valueLength, 1, table);
        if (m.mask != 0) {
            tree.reader().needEntries(m.mask, m.valueLength, 1, table);
        }
        checkMatchlets(tree, m.firstChild, m.children, depth + 1, extent);
    }
}

void checkMagic(const Reader& reader, quint32 list) {
    const char* table = "魔数表";
    const quint32 count = reader.card32(list, table);
    const quint32 extent = reader.card32(quint64(list) + 4, table);
    const quint32 first = reader.card32(quint64(list) + 8, table);
    need(extent <= maxExtent, table, "要读的文件开头太长");
    reader.needEntries(first, count, matchBytes, table);
    Tree tree(reader, matchletBytes, table);
    for (quint64 i = 0; i < count; ++i) {
        const quint64 match = first + i * matchBytes;
        reader.needString(reader.card32(match + 4, table), table);
        checkMatchlets(tree, reader.card32(match + 12, table), reader.card32(match + 8, table), 1,
                       extent);
    }
}

void checkCache(const Reader& reader) {
    const char* header = "文件头";
    need(reader.size() >= headerBytes, header, "文件太短");
    const quint32 version = reader.card32(0, header);
    need(version == 0x00010002, header, "版本不是 1.2");
    const auto offset = [&reader, header](int field) {
        return reader.card32(4 + 4 * quint64(field), header);
    };
    checkList(reader, offset(0), aliasBytes, {0, 4}, "别名表");
    checkParents(reader, offset(1));
    checkList(reader, offset(2), globBytes, {0, 4}, "字面文件名表");
    checkSuffixTree(reader, offset(3));
    checkList(reader, offset(4), globBytes, {0, 4}, "通配模式表");
    checkMagic(reader, offset(5));
    checkList(reader, offset(6), namespaceBytes, {0, 4, 8}, "XML 命名空间表");
    checkList(reader, offset(7), iconBytes, {0, 4}, "图标表");
    checkList(reader, offset(8), iconBytes, {0, 4}, "通用图标表");
}

} // namespace

QString problemIn(QByteArrayView cache) {
    try {
        checkCache(Reader(cache));
    } catch (const Damaged& damaged) {
        return damaged.why;
    }
    return {};
}

QString problemInFile(const QString& path) {
    // Not blocking: a pipe put in the cache's place must not stop the site.
    const int fd =
        open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return {};
    }
    struct stat status {};
    QString problem;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = QStringLiteral("不是普通文件");
    } else if (status.st_size > maxCacheBytes) {
        problem = QStringLiteral("大于 64 MiB");
    } else {
        QByteArray bytes(qsizetype(status.st_size), Qt::Uninitialized);
        qsizetype got = 0;
        ssize_t n = 0;
        while (got < bytes.size() && (n = read(fd, bytes.data() + got, bytes.size() - got)) != 0) {
            if (n < 0 && errno != EINTR) {
                break;
            }
            got += std::max<ssize_t>(n, 0);
        }
        // A file cut while it is read is checked as far as it goes.
        bytes.truncate(got);
        problem = problemIn(bytes);
    }
    close(fd);
    return problem;
}

} // namespace mimecheck
