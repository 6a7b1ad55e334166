#pragma once

#include "browserlauncher.h"
#include "messenger.h"
#include "processstarter.h"
#include "registry.h"
#include "webpane.h"

#include <QList>
#include <QMap>
#include <QUrl>
#include <cstring>

// Stand-ins for the platform that record what they were asked to do.

class RecordingMessenger final : public platform::Messenger {
public:
    void show(QWidget*, const platform::Message& message) override { messages.append(message); }
    bool ask(QWidget*, const platform::Question& question) override {
        questions.append(question);
        return answer;
    }
    QList<platform::Message> messages;
    QList<platform::Question> questions;
    bool answer = false; // what every question is answered
};

// Records the addresses; a set failure is told with the messenger, the
// address beside it, as the real launcher tells its own.
class RecordingLauncher final : public platform::BrowserLauncher {
public:
    explicit RecordingLauncher(platform::Messenger* messenger = nullptr)
        : m_messenger(messenger) {}
    void open(const QUrl& address) override {
        opened.append(address);
        if (failure && m_messenger) {
            m_messenger->show(nullptr, {*failure,
                                        {},
                                        platform::MessageIcon::Critical,
                                        address.toString(QUrl::FullyEncoded)});
        }
    }
    QList<QUrl> opened;
    std::optional<QString> failure; // set to make every open fail with it

private:
    platform::Messenger* m_messenger;
};

// A page the program made for the pane, and the site its links lead to.
struct ShownPage {
    QString html;
    QUrl site;
};

class RecordingWebPane final : public platform::WebPane {
public:
    explicit RecordingWebPane(QList<QUrl>& log, QList<ShownPage>* pages = nullptr)
        : m_log(log)
        , m_pages(pages) {}
    void navigate(const QUrl& address, const platform::PageFile& file = {}) override {
        m_log.append(address);
        files.append(file);
    }
    void showPage(const QString& html, const QUrl& site) override {
        if (m_pages) {
            m_pages->append({html, site});
        }
    }
    void onAction(platform::ActionHandler) override {}
    QList<platform::PageFile> files; // given with each address

private:
    QList<QUrl>& m_log;
    QList<ShownPage>* m_pages;
};

class RecordingStarter final : public platform::ProcessStarter {
public:
    std::optional<QString> start(const QString& commandLine, platform::ShowWindow show) override {
        started.append({commandLine, show});
        return failure;
    }
    QList<std::pair<QString, platform::ShowWindow>> started;
    std::optional<QString> failure; // set to make every start fail with it
};

// A registry held in memory: keys by path, each with named values of a type
// and raw bytes. It counts the keys left open.
class MemoryRegistry final : public platform::Registry {
public:
    struct Value {
        std::uint32_t type;
        QByteArray data;
    };

    void set(const QByteArray& key, const QByteArray& name, Value value) {
        m_keys[key.toLower()][name.toLower()] = std::move(value);
    }

    long openKey(Key root, const QByteArray& path, std::uint32_t, std::uint32_t access,
                 Key* opened) override {
        lastAccess = access;
        if (root != localMachine || !m_keys.contains(path.toLower())) {
            return fileNotFound;
        }
        *opened = ++m_lastHandle;
        m_open[*opened] = path.toLower();
        return success;
    }

    long queryValue(Key key, const QByteArray& name, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        if (!m_open.contains(key)) {
            return fileNotFound;
        }
        const auto& values = m_keys[m_open[key]];
        if (!values.contains(name.toLower())) {
            return fileNotFound;
        }
        const Value& value = values[name.toLower()];
        *type = value.type;
        if (std::uint32_t(value.data.size()) > *size) {
            *size = std::uint32_t(value.data.size());
            return moreData;
        }
        std::memcpy(data, value.data.constData(), size_t(value.data.size()));
        *size = std::uint32_t(value.data.size());
        return success;
    }

    long closeKey(Key key) override { return m_open.remove(key) ? success : fileNotFound; }

    qsizetype openKeys() const { return m_open.size(); }
    std::uint32_t lastAccess = 0;

private:
    QMap<QByteArray, QMap<QByteArray, Value>> m_keys;
    QMap<Key, QByteArray> m_open;
    Key m_lastHandle = 0x1000;
};
