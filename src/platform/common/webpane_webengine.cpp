#include "webpane.h"

#include <QEvent>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

#include <optional>

namespace platform {
namespace {

QString terminationReason(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode)
{
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

class EngineWebPane final : public QObject, public WebPane {
public:
    EngineWebPane(QWidget* host, WebPaneFailureHandler onFailure)
        : m_host(host)
        , m_onFailure(std::move(onFailure))
    {
        // Until the engine is up the host stands in for it as a blank page.
        m_host->setAutoFillBackground(true);
        QPalette palette = m_host->palette();
        palette.setColor(QPalette::Window, Qt::white);
        m_host->setPalette(palette);
        m_host->installEventFilter(this);
    }

    ~EngineWebPane() override
    {
        if (m_host) {
            m_host->removeEventFilter(this);
        }
    }

    void navigate(const QUrl& address) override
    {
        if (m_view) {
            m_view->load(address);
        } else {
            m_pending = address;
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_host && event->type() == QEvent::Paint && !m_creationQueued) {
            m_creationQueued = true;
            // Queued so the first frame of the window reaches the screen before
            // the engine starts.
            QTimer::singleShot(0, this, [this] { createView(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void createView()
    {
        if (!m_host) {
            return;
        }
        m_view = new QWebEngineView(m_host);
        auto* layout = new QVBoxLayout(m_host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
        m_host->setFocusProxy(m_view);
        connect(m_view->page(), &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                    const QString reason = terminationReason(status, exitCode);
                    if (!reason.isEmpty() && m_onFailure) {
                        m_onFailure(reason);
                    }
                });
        m_view->show();
        if (m_pending) {
            m_view->load(*m_pending);
            m_pending.reset();
        }
    }

    QPointer<QWidget> m_host;
    QPointer<QWebEngineView> m_view;
    WebPaneFailureHandler m_onFailure;
    std::optional<QUrl> m_pending;
    bool m_creationQueued = false;
};

} // namespace

std::unique_ptr<WebPane> attachWebPane(QWidget* host, WebPaneFailureHandler onFailure)
{
    return std::make_unique<EngineWebPane>(host, std::move(onFailure));
}

} // namespace platform
