#pragma once

#include "addresses.h"
#include "filecheck.h"
#include "http.h"
#include "sources.h"

#include <atomic>
#include <chrono>

// The lookup site's answer to each request: who may ask, which methods and
// framings it takes, and which page each address shows.
namespace routes {

using Options = Sources::Options;

class Site {
public:
    explicit Site(const Options& options);
    ~Site();
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // The port may be known only once the server listens.
    void setPort(int port) { m_port = port; }
    http::Response respond(const http::Request& request);
    // When the last request came, for ending the site after a quiet while.
    std::chrono::steady_clock::time_point lastRequest() const { return m_lastRequest.load(); }
    // What the pages are made from, for an export to walk through.
    Sources& sources() { return m_sources; }

private:
    http::Response page(const http::Request& request);
    http::Response lookupPage(const QString& typed, const QString& extension, bool full);
    http::Response fixedPage(const addresses::SiteRequest& asked, const QByteArray& path);
    http::Response filePage(const QString& extension, const QString& type,
                            const QList<filecheck::NoticeKind>& notices);
    http::Response icon(const QByteArray& path);
    knowledge::Scope scope() const;

    std::atomic<int> m_port;
    std::atomic<std::chrono::steady_clock::time_point> m_lastRequest{
        std::chrono::steady_clock::now()};
    const bool m_public;
    Sources m_sources;
};

} // namespace routes
