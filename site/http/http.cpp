#include "http.h"

namespace http {

QByteArray Request::header(const QByteArray& name) const {
    for (const Field& field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0) {
            return field.second;
        }
    }
    return {};
}

qsizetype Request::headerCount(const QByteArray& name) const {
    qsizetype count = 0;
    for (const Field& field : headers) {
        count += field.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    }
    return count;
}

} // namespace http
