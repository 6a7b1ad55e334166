#include "webpane.h"

#include "addresses.h"
#include "applog.h"
#include "apppages.h"
#include "browserlauncher.h"
#include "identity.h"
#include "localsite.h"
#include "messenger.h"
#include "modules.h"
#include "webpane_engine.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QOpenGLContext>
#include <QPalette>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <optional>

#if QT_CONFIG(opengl)
QT_BEGIN_NAMESPACE
// QtGui's own, exported for Qt's modules; QGuiApplication calls it when
// asked for a shared context before it is constructed.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
QT_END_NAMESPACE
#endif

namespace platform {
namespace {

struct EngineModule {
    CreateEngineView create;
    LoadInEngineView load;
    ShowInEngineView show;
};

// Qt WebEngine looks for the application's shared OpenGL context the moment
// its library is loaded: without one it says it "seems to be initialized from
// a plugin", and its GPU thread, finding neither GLX nor EGL behind it, says
// "No suitable graphics backend found". Asking QApplication for that context
// would make every start create it (and map a software OpenGL driver) for a
// pane most starts never use, so it is made here, just before the engine.
// Where no OpenGL context can be had the engine still draws in software.
void shareOpenGLContext() {
#if QT_CONFIG(opengl)
    if (qt_gl_global_share_context()) {
        return;
    }
    auto* context = new QOpenGLContext;
    context->setFormat(QSurfaceFormat::defaultFormat());
    if (!context->create()) {
        delete context;
        return;
    }
    qt_gl_set_global_share_context(context);
    // After the engine's own clean-up, which is registered later and so
    // runs first, while the display the context belongs to is still open.
    qAddPostRoutine([] {
        QOpenGLContext* shared = qt_gl_global_share_context();
        qt_gl_set_global_share_context(nullptr);
        delete shared;
    });
#endif
}

std::optional<EngineModule> loadEngineModule(QString* error) {
    shareOpenGLContext();
    const auto functions = moduleFunctions(
        QStringLiteral(QUELVIX_WEBPANE_MODULE),
        {"quelvix_engine_view", "quelvix_engine_load", "quelvix_engine_show"}, error);
    if (!functions) {
        return std::nullopt;
    }
    return EngineModule{reinterpret_cast<CreateEngineView>((*functions)[0]),
                        reinterpret_cast<LoadInEngineView>((*functions)[1]),
                        reinterpret_cast<ShowInEngineView>((*functions)[2])};
}

// The pane's own page for an address it cannot show: made here, never
// fetched, so it says what is wrong even when nothing answers.
QString ownPage(const SiteAnswer& answer) {
    const QString address = answer.address.toString(QUrl::FullyEncoded);
    qCWarning(lcAppPane, "cannot show %s: %s", qPrintable(address), qPrintable(answer.what));
    const apppages::Blocks& b = apppages::blocks();
    return apppages::document(
        templates::Value::fill([&](QByteArray& into) { b.paneTitle.render(into); }),
        templates::Value::fill([&](QByteArray& into) {
            b.paneFailure.render(into, {answer.what, answer.fix, address});
        }));
}

// The one pane: it sees to the local site, loads the engine and shows the
// latest address. The engine is loaded on the first address or the first
// character typed in its window, whichever comes first: a start that never
// looks anything up never pays for the engine, and one that does has it
// loading while the rest of the extension is typed.
class SitePane final : public QObject, public WebPane {
public:
    SitePane(QWidget* host, LocalSite& site, BrowserLauncher& browser, Messenger& messenger)
        : m_host(host)
        , m_site(site)
        , m_browser(browser)
        , m_messenger(messenger)
        , m_act(pageActions(messenger)) {
        m_host->setAutoFillBackground(true);
        QPalette palette = m_host->palette();
        palette.setColor(QPalette::Window, Qt::white);
        m_host->setPalette(palette);
        qApp->installEventFilter(this);
    }

    ~SitePane() override {
        if (qApp) {
            qApp->removeEventFilter(this);
        }
    }

    // Only the latest address is shown, even if an earlier one waited longer.
    void navigate(const QUrl& address, const PageFile& file) override {
        loadEngine();
        if (!m_view) {
            report(m_missing);
            return;
        }
        const quint64 request = ++m_latest;
        m_site.whenReady(address, [this, alive = std::weak_ptr<int>(m_alive), request,
                                   file](const SiteAnswer& answer) {
            if (!alive.expired() && request == m_latest) {
                show(answer, file);
            }
        });
    }

    void showPage(const QString& html, const QUrl& site) override {
        loadEngine();
        if (!m_view) {
            report(m_missing);
            return;
        }
        const quint64 request = ++m_latest;
        if (site.isEmpty()) {
            m_engine->show(m_view, &html, nullptr);
            return;
        }
        m_site.whenReady(site, [this, alive = std::weak_ptr<int>(m_alive), request,
                                html](const SiteAnswer& answer) {
            if (alive.expired() || request != m_latest) {
                return;
            }
            if (answer.problem != SiteProblem::None) {
                show(answer);
            } else if (m_view) {
                // Links on it lead to the site's pages: the site counts as shown.
                m_shown = answer.address;
                m_fileShown = {};
                m_engine->show(m_view, &html, &answer.address);
            }
        });
    }

    void onAction(ActionHandler handler) override { m_act = std::move(handler); }

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
        if (m_view || !m_missing.isEmpty() || !m_host) {
            return;
        }
        // Pages may be in any script: the engine must see every installed font.
        identity::widenFonts();
        QString error;
        m_engine = loadEngineModule(&error);
        if (!m_engine) {
            m_missing = QStringLiteral("无法载入网页显示模块，无法显示网页：%1").arg(error);
            return;
        }
        const EngineHooks hooks = engineHooks();
        m_view = m_engine->create(m_host, &hooks, &error);
        if (!m_view) {
            m_missing = error;
        }
    }

    // The view lives with the host, which may outlast the pane.
    EngineHooks engineHooks() {
        const std::weak_ptr<int> alive = m_alive;
        return {
            .fail =
                [this, alive](const QString& reason) {
                    if (!alive.expired()) {
                        report(reason);
                    }
                },
            .openElsewhere =
                [this, alive](const QUrl& address) {
                    if (!alive.expired()) {
                        m_browser.open(address);
                    }
                },
            .unreachable =
                [this, alive](const QUrl& address) {
                    // Our own site is never left to the engine's error page.
                    if (!alive.expired() && onTheSiteShown(address)) {
                        show(m_site.problem(SiteProblem::NoAnswer, address));
                    }
                },
            .act =
                [this, alive](const QUrl& action, const QUrl& page, std::function<void()> reload) {
                    if (!alive.expired()) {
                        act(action, page, std::move(reload));
                    }
                },
        };
    }

    // Only pages of the user's own site may act: that is on loopback, where
    // the site was seen to be this user's own.
    void act(const QUrl& action, const QUrl& page, std::function<void()> reload) {
        const std::optional<addresses::ActionRequest> request = addresses::actionOf(action);
        if (!request || !m_act || !m_host || !onTheSiteShown(action) || !onTheSiteShown(page)) {
            return;
        }
        const bool aboutFile = page.toString(QUrl::FullyEncoded) == m_fileShown.address;
        m_act({*request, aboutFile ? m_fileShown.file : PageFile{}, m_host->window(), m_host,
               std::move(reload)});
    }

    bool onTheSiteShown(const QUrl& address) const {
        return addresses::isLoopback(address) && address.scheme() == m_shown.scheme() &&
               address.host() == m_shown.host() && address.port() == m_shown.port();
    }

    void show(const SiteAnswer& answer, const PageFile& file = {}) {
        if (!m_view) {
            return;
        }
        m_fileShown = {};
        if (answer.problem == SiteProblem::None) {
            m_shown = answer.address;
            if (!file.path.isEmpty()) {
                m_fileShown = {answer.address.toString(QUrl::FullyEncoded), file};
            }
            m_engine->load(m_view, &answer.address);
        } else {
            const QString page = ownPage(answer);
            m_engine->show(m_view, &page, nullptr);
        }
    }

    void report(const QString& reason) {
        m_messenger.show(m_host ? m_host->window() : nullptr, {reason, {}, MessageIcon::Critical});
    }

    QPointer<QWidget> m_host;
    LocalSite& m_site;
    BrowserLauncher& m_browser;
    Messenger& m_messenger;
    std::optional<EngineModule> m_engine;
    QPointer<QWidget> m_view; // owned by the host
    QString m_missing;        // why there is no view, once that is known
    QUrl m_shown;             // the address last given to the engine
    // The page last given for a file, and the file, for its 打开 links.
    struct {
        QString address;
        PageFile file;
    } m_fileShown;
    ActionHandler m_act;
    quint64 m_latest = 0;
    std::shared_ptr<int> m_alive = std::make_shared<int>();
};

} // namespace

std::unique_ptr<WebPane> attachWebPane(QWidget* host, LocalSite& site, BrowserLauncher& browser,
                                       Messenger& messenger) {
    return std::make_unique<SitePane>(host, site, browser, messenger);
}

} // namespace platform
