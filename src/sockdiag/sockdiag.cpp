#include "sockdiag.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

namespace sockdiag {
namespace {

// An address in the kernel's table, in its IPv6 form: an IPv4 one as a
// dual-stack socket holds it, ::ffff:a.b.c.d. In this form both entries a
// dual-stack socket may have compare alike.
std::array<__be32, 4> inV6Form(int family, const __be32 (&words)[4]) {
    if (family == AF_INET) {
        return {0, 0, htonl(0xffff), words[0]};
    }
    return {words[0], words[1], words[2], words[3]};
}

// Whether the kernel's entry is the socket asked for. A program's IPv6
// socket connected to ::ffff:127.0.0.1 is an IPv4 connection to the kernel,
// found by the same question, but its entry is an IPv6 one.
bool isSocketAsked(const inet_diag_msg& found, const inet_diag_req_v2& asked) {
    const inet_diag_sockid& id = found.id;
    return id.idiag_sport == asked.id.idiag_sport && id.idiag_dport == asked.id.idiag_dport &&
           inV6Form(found.idiag_family, id.idiag_src) ==
               inV6Form(asked.sdiag_family, asked.id.idiag_src) &&
           inV6Form(found.idiag_family, id.idiag_dst) ==
               inV6Form(asked.sdiag_family, asked.id.idiag_dst);
}

uint16_t portOf(const sockaddr* address) {
    return address->sa_family == AF_INET
               ? reinterpret_cast<const sockaddr_in*>(address)->sin_port
               : reinterpret_cast<const sockaddr_in6*>(address)->sin6_port;
}

void copyAddress(const sockaddr* address, __be32 (&words)[4]) {
    if (address->sa_family == AF_INET) {
        words[0] = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
    } else {
        std::memcpy(words, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                    sizeof(in6_addr));
    }
}

// The question for the socket with `local` as its own address and `remote`
// as its peer's.
inet_diag_req_v2 questionFor(const sockaddr* local, const sockaddr* remote) {
    inet_diag_req_v2 request{};
    request.sdiag_family = uint8_t(local->sa_family);
    request.sdiag_protocol = IPPROTO_TCP;
    request.idiag_states = ~0u;
    request.id.idiag_sport = portOf(local);
    request.id.idiag_dport = portOf(remote);
    copyAddress(local, request.id.idiag_src);
    copyAddress(remote, request.id.idiag_dst);
    request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    return request;
}

// The same question asked of the IPv6 table, the addresses mapped.
inet_diag_req_v2 asDualStack(inet_diag_req_v2 request) {
    const std::array<__be32, 4> source = inV6Form(AF_INET, request.id.idiag_src);
    const std::array<__be32, 4> destination = inV6Form(AF_INET, request.id.idiag_dst);
    std::copy(source.begin(), source.end(), request.id.idiag_src);
    std::copy(destination.begin(), destination.end(), request.id.idiag_dst);
    request.sdiag_family = AF_INET6;
    return request;
}

} // namespace

Table::Table()
    : m_fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}

Table::~Table() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool Table::ask(const inet_diag_req_v2& question, bool dump,
                const std::function<void(const inet_diag_msg&)>& take) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | (dump ? NLM_F_DUMP : 0);
    message.header.nlmsg_seq = ++m_sequence;
    message.body = question;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (m_fd < 0 || sendto(m_fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                           sizeof kernel) != ssize_t(sizeof message)) {
        return false;
    }
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t got = recv(m_fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        size_t left = size_t(got);
        for (auto* part = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(part, left);
             part = NLMSG_NEXT(part, left)) {
            if (part->nlmsg_seq != m_sequence) {
                continue; // left over from an earlier question
            }
            if (part->nlmsg_type == NLMSG_DONE) {
                return true;
            }
            if (part->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                part->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                return false;
            }
            take(*static_cast<const inet_diag_msg*>(NLMSG_DATA(part)));
            // A question for one socket has one answer; a dump ends with NLMSG_DONE.
            if (!(part->nlmsg_flags & NLM_F_MULTI)) {
                return true;
            }
        }
    }
}

std::optional<inet_diag_msg> Table::one(const inet_diag_req_v2& question) {
    std::optional<inet_diag_msg> found;
    if (!ask(question, false, [&found](const inet_diag_msg& entry) { found = entry; })) {
        return std::nullopt;
    }
    return found;
}

std::optional<uid_t> Table::connectionOwner(const sockaddr* local, const sockaddr* remote) {
    const inet_diag_req_v2 question = questionFor(local, remote);
    std::optional<inet_diag_msg> found = one(question);
    if (!found && question.sdiag_family == AF_INET) {
        found = one(asDualStack(question));
    }
    if (!found) {
        return std::nullopt;
    }
    // A closed socket waiting out its time has no owner any more, and reports
    // root as one; the kernel may also answer with a listening socket.
    constexpr uint8_t newSynReceived = 12;
    const bool live = found->idiag_state != TCP_TIME_WAIT && found->idiag_state != TCP_LISTEN &&
                      found->idiag_state != newSynReceived;
    return live && isSocketAsked(*found, question) ? std::optional(found->idiag_uid) : std::nullopt;
}

// Only listeners are sent, however many connections the machine holds.
std::optional<std::vector<Listener>> Table::listeners(uint16_t port) {
    std::vector<Listener> found;
    for (const int family : {AF_INET, AF_INET6}) {
        inet_diag_req_v2 question{};
        question.sdiag_family = uint8_t(family);
        question.sdiag_protocol = IPPROTO_TCP;
        question.idiag_states = 1u << TCP_LISTEN;
        const bool answered = ask(question, true, [&found, port](const inet_diag_msg& entry) {
            if (ntohs(entry.id.idiag_sport) != port) {
                return;
            }
            Listener listener;
            listener.family = entry.idiag_family;
            std::memcpy(listener.address.data(), entry.id.idiag_src, listener.address.size());
            listener.owner = entry.idiag_uid;
            found.push_back(listener);
        });
        if (!answered) {
            return std::nullopt;
        }
    }
    return found;
}

} // namespace sockdiag
