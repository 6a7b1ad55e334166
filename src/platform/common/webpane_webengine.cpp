#include "webpane.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
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

const QString engineMissing = QStringLiteral("找不到网页引擎进程 QtWebEngineProcess，无法显示网页");

// The engine composites through OpenGL where Qt shares a global context, except
// on the offscreen platform, where it renders in software and where widgets
// cannot be composited from textures at all.
bool engineDrawsThroughOpenGL() {
    return QOpenGLContext::globalShareContext() &&
           QGuiApplication::platformName() != QLatin1String("offscreen");
}

// The blank page shown until the engine is up. It draws through OpenGL like
// the engine's view does, so the window is created for OpenGL from the start:
// adding the first such child to a shown window would make Qt destroy and
// recreate the native window, which flickers and loses the keyboard focus.
class BlankPane final : public QOpenGLWidget {
public:
    using QOpenGLWidget::QOpenGLWidget;

protected:
    void paintGL() override {
        QOpenGLFunctions* gl = context()->functions();
        gl->glClearColor(1, 1, 1, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
};

class EngineWebPane final : public QObject, public WebPane {
public:
    EngineWebPane(QWidget* host, WebPaneFailureHandler onFailure)
        : m_host(host)
        , m_onFailure(std::move(onFailure)) {
        m_host->setAutoFillBackground(true);
        QPalette palette = m_host->palette();
        palette.setColor(QPalette::Window, Qt::white);
        m_host->setPalette(palette);
        m_layout = new QVBoxLayout(m_host);
        m_layout->setContentsMargins(0, 0, 0, 0);
        if (engineDrawsThroughOpenGL()) {
            m_blank = new BlankPane(m_host);
            m_layout->addWidget(m_blank);
        }
        m_firstPaint = m_blank ? static_cast<QWidget*>(m_blank) : m_host.data();
        m_firstPaint->installEventFilter(this);
    }

    ~EngineWebPane() override {
        if (m_firstPaint) {
            m_firstPaint->removeEventFilter(this);
        }
    }

    void navigate(const QUrl& address) override {
        if (m_view) {
            m_view->load(address);
        } else if (m_engineMissing) {
            reportFailure(engineMissing);
        } else {
            m_pending = address;
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_firstPaint && event->type() == QEvent::Paint && !m_creationQueued) {
            m_creationQueued = true;
            // Queued so the first frame of the window reaches the screen before
            // the engine starts.
            QTimer::singleShot(0, this, [this] { createView(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void createView() {
        if (!m_host) {
            return;
        }
        m_firstPaint->removeEventFilter(this);
        if (!enginePresent()) {
            // The pane stays blank; every other command goes on working.
            m_engineMissing = true;
            m_pending.reset();
            reportFailure(engineMissing);
            return;
        }
        m_view = new QWebEngineView(m_host);
        m_layout->addWidget(m_view);
        if (m_blank) {
            m_blank->deleteLater();
        }
        m_host->setFocusProxy(m_view);
        connect(m_view->page(), &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                    const QString reason = terminationReason(status, exitCode);
                    if (!reason.isEmpty()) {
                        reportFailure(reason);
                    }
                });
        m_view->show();
        if (m_pending) {
            m_view->load(*m_pending);
            m_pending.reset();
        }
    }

    QPointer<QWidget> m_host;
    void reportFailure(const QString& reason) const {
        if (m_onFailure) {
            m_onFailure(reason);
        }
    }

    QVBoxLayout* m_layout = nullptr;
    QPointer<BlankPane> m_blank;
    QPointer<QWidget> m_firstPaint;
    QPointer<QWebEngineView> m_view;
    WebPaneFailureHandler m_onFailure;
    std::optional<QUrl> m_pending;
    bool m_creationQueued = false;
    bool m_engineMissing = false;
};

} // namespace

std::unique_ptr<WebPane> attachWebPane(QWidget* host, WebPaneFailureHandler onFailure) {
    return std::make_unique<EngineWebPane>(host, std::move(onFailure));
}

} // namespace platform
