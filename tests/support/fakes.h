#pragma once

#include "browserlauncher.h"
#include "messenger.h"
#include "webpane.h"

#include <QList>
#include <QUrl>

// Stand-ins for the platform that record what they were asked to do.

class RecordingMessenger final : public platform::Messenger {
public:
    void show(QWidget*, const platform::Message& message) override { messages.append(message); }
    QList<platform::Message> messages;
};

class RecordingLauncher final : public platform::BrowserLauncher {
public:
    std::optional<QString> open(const QUrl& address) override
    {
        opened.append(address);
        return failure;
    }
    QList<QUrl> opened;
    std::optional<QString> failure; // set to make every open fail with it
};

class RecordingWebPane final : public platform::WebPane {
public:
    explicit RecordingWebPane(QList<QUrl>& log)
        : m_log(log)
    {
    }
    void navigate(const QUrl& address) override { m_log.append(address); }

private:
    QList<QUrl>& m_log;
};
