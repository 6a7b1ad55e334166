#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <sys/socket.h>
#include <sys/types.h>
#include <vector>

struct inet_diag_msg;
struct inet_diag_req_v2;

// The kernel's table of TCP sockets, asked over netlink: one small question
// at a time, instead of reading all of /proc/net/tcp{,6}, which on a busy
// machine holds thousands of closing sockets.
namespace sockdiag {

// A listening socket: its address as the kernel holds it (network order,
// the first four bytes for IPv4) and who owns it.
struct Listener {
    int family = 0; // AF_INET or AF_INET6
    std::array<uint8_t, 16> address{};
    uid_t owner = 0;
};

class Table {
public:
    Table();
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Who owns the live TCP socket that has `local` as its own address and
    // `remote` as its peer's; nothing if there is no such socket. An IPv4
    // pair is also looked for as a dual-stack socket holds it (::ffff:a.b.c.d).
    std::optional<uid_t> connectionOwner(const sockaddr* local, const sockaddr* remote);

    // Every TCP socket listening on the port, IPv4 and IPv6; nothing when the
    // kernel will not say.
    std::optional<std::vector<Listener>> listeners(uint16_t port);

private:
    // Sends one question and hands each entry of the answer to `take`; false
    // when the kernel could not be asked or answered with an error (for one
    // socket: there is no such socket).
    bool ask(const inet_diag_req_v2& question, bool dump,
             const std::function<void(const inet_diag_msg&)>& take);
    std::optional<inet_diag_msg> one(const inet_diag_req_v2& question);

    int m_fd;
    uint32_t m_sequence = 0;
};

} // namespace sockdiag
