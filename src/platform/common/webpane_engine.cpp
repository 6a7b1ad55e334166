// The web pane proper, built as a module of its own: only this file links Qt
// WebEngine, so the app starts without mapping the engine's libraries and
// loads them the first time a page is wanted.
#include "webpane.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QQuickWindow>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

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

// The view composites in software, and Chromium is told to leave its GPU
// process off. Drawing through OpenGL would need a context shared by the
// whole application from before QApplication exists, which costs every start
// (most of it with software OpenGL) for a pane most starts never use; its
// first view would also make Qt recreate the window. Without that context the
// engine must not try OpenGL at all.
void drawInSoftware() {
    static const bool once = [] {
        // Qt WebEngine 6.4 logs its start-up settings at info level and, doing
        // so, reads the shared context's format without checking that there is
        // one: a null dereference (later versions check). The log is not needed.
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.split(' ').contains("--disable-gpu")) {
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.append(" --disable-gpu").trimmed());
        }
        return true;
    }();
    Q_UNUSED(once);
}

class EngineWebPane final : public QObject, public WebPane {
public:
    EngineWebPane(QWidget* host, WebPaneFailureHandler onFailure)
        : m_onFailure(std::move(onFailure)) {
        if (!enginePresent()) {
            return; // The pane stays blank; every other command goes on working.
        }
        drawInSoftware();
        m_view = new QWebEngineView(host);
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
        host->setFocusProxy(m_view);
        connect(m_view->page(), &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                    const QString reason = terminationReason(status, exitCode);
                    if (!reason.isEmpty()) {
                        reportFailure(reason);
                    }
                });
        m_view->show();
    }

    void navigate(const QUrl& address) override {
        if (m_view) {
            m_view->load(address);
        } else {
            reportFailure(engineMissing);
        }
    }

private:
    void reportFailure(const QString& reason) const {
        if (m_onFailure) {
            m_onFailure(reason);
        }
    }

    QPointer<QWebEngineView> m_view; // owned by the host
    WebPaneFailureHandler m_onFailure;
};

} // namespace
} // namespace platform

extern "C" Q_DECL_EXPORT platform::WebPane*
quelvix_engine_pane(QWidget* host, const platform::WebPaneFailureHandler* onFailure) {
    return new platform::EngineWebPane(host, *onFailure);
}
