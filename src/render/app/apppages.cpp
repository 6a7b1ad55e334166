#include "apppages.h"

#include "applog.h"

namespace apppages {

const templates::Library& library() {
    static const templates::Library app(QStringLiteral(":/render/app"), lcAppPages);
    return app;
}

const Blocks& blocks() {
    static const Blocks all;
    return all;
}

QString document(const Value& title, const Value& body) {
    QByteArray page;
    blocks().page.render(page, {title, Value::html(templates::styleSheet()), body});
    return QString::fromUtf8(page);
}

QStringList problems() {
    blocks();
    return library().problems();
}

} // namespace apppages
