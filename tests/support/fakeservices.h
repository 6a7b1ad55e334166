#pragma once

#include "fakes.h"
#include "form1.h"
#include "localsite.h"

// Everything Form1 needs from the outside world, as recording stand-ins: the
// one place tests wire a main window.
struct FakeServices {
    RecordingMessenger messenger;
    RecordingLauncher launcher{&messenger};
    MemoryRegistry registry;
    RecordingStarter processes;
    QList<QUrl> navigations; // what the recording pane was asked to show
    QList<ShownPage> pages;  // and the pages the window made for it
    int exits = 0;
    // For the real pane: a site that is never started, so a test sees only
    // the servers it runs itself.
    platform::LocalSite localSite{QString(), [](const QString&, const QStringList&, int) {
                                      return false;
                                  }};

    Form1Services services(identity::Sites sites = identity::sites()) {
        return withPane(
            [this](QWidget*) {
                return std::unique_ptr<platform::WebPane>(
                    std::make_unique<RecordingWebPane>(navigations, &pages));
            },
            std::move(sites));
    }

    // With the real pane, the engine and all.
    Form1Services withRealPane(identity::Sites sites) {
        return withPane(
            [this](QWidget* host) {
                return platform::attachWebPane(host, localSite, launcher, messenger);
            },
            std::move(sites));
    }

    Form1Services withPane(platform::WebPaneFactory pane, identity::Sites sites) {
        return {.messenger = messenger,
                .browser = launcher,
                .registry = registry,
                .processes = processes,
                .attachWebPane = std::move(pane),
                .exitProcess = [this] { ++exits; },
                .sites = std::move(sites)};
    }
};
