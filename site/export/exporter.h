#pragma once

#include <QString>
#include <QUrl>

namespace routes {
class Site;
}

// Writes a public site's pages as static files, for any web server or CDN:
// filefound/<ext>.html and soso/<ext>.htm for every extension the MIME
// database knows, index.html, 404.html, style.css and every icon they show.
// The files are what the site answers for the same addresses, byte for byte,
// and the same inputs always give the same files.
namespace exporter {

struct Options {
    int jobs = 1;
    bool chinese = true; // our messages in Chinese, else English
    // Where the site is deployed. With it, the export adds what search
    // engines and browsers look for (canonical addresses, descriptions, a
    // sitemap, robots.txt, OpenSearch) and names the style sheet and icons
    // by their content, so caches may keep them for good.
    QUrl publicRoot;
};

// Returns 0, or 1 with the reason on standard error. The directory may hold
// other files: the export changes only what it wrote itself (see webroot.h),
// switches a web server to the new pages in one step, and a failed or stopped
// export leaves the directory as it was.
int exportTo(const QString& directory, const Options& options, routes::Site& site);

} // namespace exporter
