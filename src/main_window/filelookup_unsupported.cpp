#include "filelookup.h"

namespace filelookup {

// Telling a file by its content needs the Linux build's detection.
Shown forFiles(const QString&, const QList<QByteArray>& paths) {
    if (paths.isEmpty()) {
        return {};
    }
    Shown shown;
    shown.page =
        QStringLiteral("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<title>无法查看文件</title></head><body><p>这个版本不能查看文件的内容。"
                       "请在上面的输入框中输入它的扩展名来查询。</p></body></html>");
    return shown;
}

} // namespace filelookup
