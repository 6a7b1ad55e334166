#include "server.h"

#include "knowledge.h"
#include "pages.h"

#include <chrono>
#include <string>

namespace {

constexpr const char* htmlType = "text/html; charset=utf-8";
// No extension a database knows comes anywhere near this long.
constexpr qsizetype maxExtensionLength = 255;
constexpr size_t workerCount = 32;

// Each lookup page reports how long it took, so its cost can be measured
// apart from the network's.
class ServerTiming {
public:
    void report(httplib::Response& response) const {
        const std::chrono::duration<double, std::milli> elapsed =
            std::chrono::steady_clock::now() - m_start;
        response.set_header("Server-Timing", "page;dur=" + std::to_string(elapsed.count()));
    }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

void send(httplib::Response& response, int status, const QByteArray& body) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_content(body.constData(), size_t(body.size()), htmlType);
}

// The path is percent-decoded once by the server before it is matched.
template <typename Render> auto lookupRoute(Render render) {
    return [render](const httplib::Request& request, httplib::Response& response) {
        const ServerTiming timing;
        const QString extension = QString::fromStdString(request.matches[1].str());
        const QList<knowledge::Format> formats = extension.size() <= maxExtensionLength
                                                     ? knowledge::lookUp(extension)
                                                     : QList<knowledge::Format>();
        if (formats.isEmpty()) {
            send(response, 404, pages::notFound(extension));
        } else {
            send(response, 200, render(extension, formats));
        }
        timing.report(response);
    };
}

} // namespace

void addRoutes(httplib::Server& server) {
    server.Get(R"(/filefound/(.+)\.html)", lookupRoute(pages::compact));
    server.Get(R"(/soso/(.+)\.htm)", lookupRoute(pages::full));
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        send(response, 200, pages::home());
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 404 && response.body.empty()) {
            send(response, 404, pages::noSuchPage());
        }
    });
    server.set_payload_max_length(64 * 1024);
    server.set_keep_alive_max_count(100);
    // Headers and body go out in separate writes: without this, Nagle's
    // algorithm holds the body back until the client's delayed ACK, 40 ms.
    server.set_tcp_nodelay(true);
    // A kept-alive connection holds its worker, so more workers than the
    // library's default eight let more clients in at once.
    server.new_task_queue = [] {
        return new httplib::ThreadPool(workerCount);
    };
}
