#include "webpane.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QKeyEvent>
#include <QLibrary>
#include <QPalette>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace platform {
namespace {

using CreateEnginePane = WebPane* (*)(QWidget*, const WebPaneFailureHandler*);

// The module holding the engine: beside the executable in the build tree,
// in the library directory once installed. Loading it makes Qt WebEngine warn
// that it "seems to be initialized from a plugin" and ask for a shared OpenGL
// context before QApplication; that is deliberate here (see the module).
CreateEnginePane loadEngineModule(QString* error) {
    const QDir appDir(QCoreApplication::applicationDirPath());
    QStringList tried;
    for (const QString& dir :
         {appDir.path(), appDir.filePath(QStringLiteral(QUELVIX_MODULE_DIR))}) {
        QLibrary module(QDir(dir).filePath(QStringLiteral(QUELVIX_WEBPANE_MODULE)));
        if (auto create =
                reinterpret_cast<CreateEnginePane>(module.resolve("quelvix_engine_pane"))) {
            return create; // The module stays loaded for the life of the process.
        }
        tried.append(module.errorString());
    }
    *error = tried.join(QStringLiteral("; "));
    return nullptr;
}

// A pane whose engine is loaded on the first address or the first character
// typed in its window, whichever comes first: a start that never looks
// anything up never pays for the engine, and one that does has it loading
// while the rest of the extension is typed.
class LazyWebPane final : public QObject, public WebPane {
public:
    LazyWebPane(QWidget* host, WebPaneFailureHandler onFailure)
        : m_host(host)
        , m_onFailure(std::move(onFailure)) {
        m_host->setAutoFillBackground(true);
        QPalette palette = m_host->palette();
        palette.setColor(QPalette::Window, Qt::white);
        m_host->setPalette(palette);
        qApp->installEventFilter(this);
    }

    ~LazyWebPane() override {
        if (qApp) {
            qApp->removeEventFilter(this);
        }
    }

    void navigate(const QUrl& address) override {
        loadEngine();
        if (m_engine) {
            m_engine->navigate(address);
        } else if (m_onFailure) {
            m_onFailure(m_missing);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && m_host && isTyping(watched, event)) {
            qApp->removeEventFilter(this);
            // Queued, so the character is on screen before the engine loads.
            QTimer::singleShot(0, this, [this] { loadEngine(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool isTyping(QObject* watched, QEvent* event) const {
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool shortcut =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
        return widget && widget->window() == m_host->window() && !shortcut &&
               !key->text().isEmpty() && key->text().front().isPrint();
    }

    void loadEngine() {
        qApp->removeEventFilter(this);
        if (m_engine || !m_missing.isEmpty() || !m_host) {
            return;
        }
        QString error;
        if (const CreateEnginePane create = loadEngineModule(&error)) {
            m_engine.reset(create(m_host, &m_onFailure));
        } else {
            m_missing = QStringLiteral("无法载入网页显示模块，无法显示网页：%1").arg(error);
        }
    }

    QPointer<QWidget> m_host;
    WebPaneFailureHandler m_onFailure;
    std::unique_ptr<WebPane> m_engine;
    QString m_missing;
};

} // namespace

std::unique_ptr<WebPane> attachWebPane(QWidget* host, WebPaneFailureHandler onFailure) {
    return std::make_unique<LazyWebPane>(host, std::move(onFailure));
}

} // namespace platform
