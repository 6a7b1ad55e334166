// The web pane's view, built as a module of its own: only this file links Qt
// WebEngine, so the app starts without mapping the engine's libraries and
// loads them the first time a page is wanted.
#include "webpane_engine.h"

#include "addresses.h"

#include <QApplication>
#include <QChildEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPointer>
#include <QQuickWindow>
#include <QTranslator>
#include <QVBoxLayout>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>
#include <optional>

namespace platform {
namespace {

QString terminationReason(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus:
        return {};
    case QWebEnginePage::AbnormalTerminationStatus:
        return QStringLiteral("网页显示进程异常退出（退出码 %1）").arg(exitCode);
    case QWebEnginePage::CrashedTerminationStatus:
        return QStringLiteral("网页显示进程崩溃（退出码 %1）").arg(exitCode);
    case QWebEnginePage::KilledTerminationStatus:
        return QStringLiteral("网页显示进程被终止（退出码 %1）").arg(exitCode);
    }
    return QStringLiteral("网页显示进程意外结束（退出码 %1）").arg(exitCode);
}

// Qt WebEngine aborts the whole process when it cannot find its page process,
// so look for it first, where the engine itself looks.
bool enginePresent() {
    const QString fromEnvironment = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    if (!fromEnvironment.isEmpty()) {
        return QFileInfo(fromEnvironment).isExecutable();
    }
    const QStringList dirs = {QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath),
                              QLibraryInfo::path(QLibraryInfo::BinariesPath),
                              QCoreApplication::applicationDirPath()};
    for (const QString& dir : dirs) {
        for (const char* name : {"/QtWebEngineProcess", "/QtWebEngineProcess.exe"}) {
            if (QFileInfo(dir + QLatin1String(name)).isExecutable()) {
                return true;
            }
        }
    }
    return false;
}

// The view composites in software, and Chromium is told to leave its GPU
// process off. The application's shared OpenGL context, made by the pane just
// before this module is loaded, is there only because the engine checks for
// it when it starts; drawing through it would make Qt recreate the window for
// OpenGL at the first view, and where no context could be made (no OpenGL at
// all) the engine must not try OpenGL.
void drawInSoftware() {
    // Qt WebEngine 6.4 logs its start-up settings at info level and, doing
    // so, reads the shared context's format without checking that there is
    // one: a null dereference where none could be made (later versions
    // check). The log is not needed.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.split(' ').contains("--disable-gpu")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.append(" --disable-gpu").trimmed());
    }
}

// The engine's own texts (the pane's context menu among them) in the
// application's language, beside Qt's, which the application installs.
void translateEngine() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtwebengine"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

void prepareEngine() {
    static const bool once = [] {
        drawInSoftware();
        translateEngine();
        return true;
    }();
    Q_UNUSED(once);
}

// A page that could not be had at all: not a page the server sent with an
// error status, nor a load given up for another one. Closed connections
// count too; the engine files some of them under its own errors.
bool unreachable(const QWebEngineLoadingInfo& info) {
    constexpr int aborted = -3;
    return info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
           info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain &&
           !(info.errorDomain() == QWebEngineLoadingInfo::InternalErrorDomain &&
             info.errorCode() == aborted);
}

bool sameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme() == b.scheme() && a.host() == b.host() && a.port(-1) == b.port(-1);
}

// An extension's full page is meant for the browser, also on the site shown:
// the pane keeps to the compact ones.
bool fullPage(const QUrl& url) {
    const std::optional<addresses::PageRequest> page =
        addresses::pageOf(url.path(QUrl::FullyEncoded).toUtf8());
    return page && page->page == addresses::Page::Search;
}

// The pane shows the lookup site and nothing else: no script runs, and a
// link or form to anywhere else goes to the default browser.
class SitePage final : public QWebEnginePage {
public:
    SitePage(EngineHooks hooks, QObject* parent)
        : QWebEnginePage(parent)
        , m_hooks(std::move(hooks)) {
        settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        connect(this, &QWebEnginePage::renderProcessTerminated, this,
                [this](RenderProcessTerminationStatus status, int exitCode) {
                    const QString reason = terminationReason(status, exitCode);
                    if (!reason.isEmpty() && m_hooks.fail) {
                        m_hooks.fail(reason);
                    }
                });
        connect(this, &QWebEnginePage::loadingChanged, this,
                [this](const QWebEngineLoadingInfo& info) {
                    if (unreachable(info) && m_hooks.unreachable) {
                        m_hooks.unreachable(info.url());
                    }
                });
    }

    // The origin whose pages may be shown, from the address about to be loaded.
    void keepTo(const QUrl& address) { m_origin = address; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isAction(url)) {
            // Only the person's own click on the page shown may act: not a
            // redirect, a frame, a typed or a restored address.
            if (type == NavigationTypeLinkClicked && isMainFrame && sameOrigin(url, m_origin) &&
                sameOrigin(this->url(), m_origin) && m_hooks.act) {
                m_hooks.act(url, this->url(), reloader());
            }
            return false;
        }
        // Loads asked for by the pane, and going back to or reloading a page
        // that was let in already.
        if (type == NavigationTypeTyped || type == NavigationTypeBackForward ||
            type == NavigationTypeReload) {
            return true;
        }
        if (sameOrigin(url, m_origin) &&
            !(isMainFrame && type == NavigationTypeLinkClicked && fullPage(url))) {
            return true;
        }
        if (isMainFrame &&
            (type == NavigationTypeLinkClicked || type == NavigationTypeFormSubmitted)) {
            m_hooks.openElsewhere(url);
        }
        return false; // frames, redirects and refreshes elsewhere stay out
    }

    // A link meant for a new window: a page that only catches its address.
    QWebEnginePage* createWindow(WebWindowType) override { return new WindowCatcher(this); }

private:
    // An address in the folder of actions on the site shown, or on this
    // machine: never loaded, and never handed to the browser either, which
    // would take it to whatever answers there.
    bool isAction(const QUrl& url) const {
        return addresses::isActionPath(url.path()) &&
               (sameOrigin(url, m_origin) || addresses::isLoopback(url));
    }

    std::function<void()> reloader() {
        return [page = QPointer<SitePage>(this)] {
            if (page) {
                page->triggerAction(QWebEnginePage::Reload);
            }
        };
    }

    class WindowCatcher final : public QWebEnginePage {
    public:
        explicit WindowCatcher(SitePage* owner)
            : QWebEnginePage(owner)
            , m_owner(owner) {}

    protected:
        bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
            if (m_owner->isAction(url)) {
                // not the page's own click: ignored
            } else if (sameOrigin(url, m_owner->m_origin) && !fullPage(url)) {
                m_owner->load(url);
            } else {
                m_owner->m_hooks.openElsewhere(url);
            }
            deleteLater();
            return false;
        }

    private:
        SitePage* m_owner;
    };

    EngineHooks m_hooks;
    QUrl m_origin;
};

} // namespace
} // namespace platform

namespace platform {
namespace {

// The engine takes files dropped on it as pages to open; here they go on to
// the window around the view, which knows what to do with a file. A widget
// that does not accept drops passes them to its parent, so every widget of
// the view, including those the engine makes later, is told not to.
class DropsPassOn final : public QObject {
public:
    explicit DropsPassOn(QWidget* view)
        : QObject(view) {
        refuseDrops(view);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Added, and again once polished: a widget may take drops in its
        // own constructor, after it was added.
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) {
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child())) {
                refuseDrops(child);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void refuseDrops(QWidget* widget) {
        widget->setAcceptDrops(false);
        widget->removeEventFilter(this); // once, however often it is seen
        widget->installEventFilter(this);
        for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            refuseDrops(child);
        }
    }
};

// Back and forward anywhere in the view's window, as in a browser: Alt+Left
// and Alt+Right, also while the text box has the focus (it has no use for
// them and keeps its text), and the mouse's side buttons over the window.
class HistoryKeys final : public QObject {
public:
    explicit HistoryKeys(QWebEngineView* view)
        : QObject(view)
        , m_view(view) {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !m_view->isVisible() || widget->window() != m_view->window()) {
            return false;
        }
        const QWebEnginePage::WebAction step = stepOf(event);
        if (step == QWebEnginePage::NoWebAction) {
            return false;
        }
        m_view->triggerPageAction(step);
        return true;
    }

private:
    static QWebEnginePage::WebAction stepOf(QEvent* event) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->modifiers() == Qt::AltModifier && key->key() == Qt::Key_Left) {
                return QWebEnginePage::Back;
            }
            if (key->modifiers() == Qt::AltModifier && key->key() == Qt::Key_Right) {
                return QWebEnginePage::Forward;
            }
        } else if (event->type() == QEvent::MouseButtonPress) {
            const auto button = static_cast<QMouseEvent*>(event)->button();
            if (button == Qt::BackButton) {
                return QWebEnginePage::Back;
            }
            if (button == Qt::ForwardButton) {
                return QWebEnginePage::Forward;
            }
        }
        return QWebEnginePage::NoWebAction;
    }

    QWebEngineView* m_view;
};

} // namespace
} // namespace platform

extern "C" Q_DECL_EXPORT QWidget*
quelvix_engine_view(QWidget* host, const platform::EngineHooks* hooks, QString* error) {
    if (!platform::enginePresent()) {
        *error = QStringLiteral("找不到网页引擎进程 QtWebEngineProcess，无法显示网页");
        return nullptr;
    }
    platform::prepareEngine();
    auto* view = new QWebEngineView(host);
    view->setPage(new platform::SitePage(*hooks, view));
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    host->setFocusProxy(view);
    new platform::DropsPassOn(view);
    new platform::HistoryKeys(view);
    view->show();
    return view;
}

extern "C" Q_DECL_EXPORT void quelvix_engine_load(QWidget* view, const QUrl* address) {
    auto* engineView = static_cast<QWebEngineView*>(view);
    static_cast<platform::SitePage*>(engineView->page())->keepTo(*address);
    engineView->load(*address);
}

extern "C" Q_DECL_EXPORT void quelvix_engine_show(QWidget* view, const QString* html,
                                                  const QUrl* base) {
    auto* engineView = static_cast<QWebEngineView*>(view);
    if (base) {
        static_cast<platform::SitePage*>(engineView->page())->keepTo(*base);
        engineView->setHtml(*html, *base);
    } else {
        engineView->setHtml(*html);
    }
}
