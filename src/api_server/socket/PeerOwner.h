#pragma once

#include "api_server/socket/Socket.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace ostrel::api_server {

// Tells which user's process holds the other end of a loopback TCP connection, by asking
// the kernel: its socket diagnostics (one netlink request and reply per question) or, where
// those are not offered, its TCP table (/proc/net/tcp, read whole at each question). IPv4
// only, as the doors listen on 127.0.0.1. Used by one thread at a time.
class PeerOwner {
public:
    // SocketTable: the tables of sockets the kernel writes in /proc/net.
    enum class Way { SocketDiagnostics, SocketTable, None };
    enum class Peer { TheUser, AnotherUser, Unknown };

    // Settles on the first of `ways` that tells the owner of `listener` (a listening socket
    // of this process's) right, so a way the system does not offer is found out once, here;
    // Way::None when none does.
    explicit PeerOwner(const Socket& listener,
                       const std::vector<Way>& ways = {Way::SocketDiagnostics, Way::SocketTable});
    ~PeerOwner();
    PeerOwner(PeerOwner&& other) noexcept;
    PeerOwner& operator=(PeerOwner&& other) noexcept;
    PeerOwner(const PeerOwner&) = delete;
    PeerOwner& operator=(const PeerOwner&) = delete;

    Way way() const noexcept { return way_; }

    // The owner of the process at the other end of `connection`. Nothing when it cannot be
    // told: the other end has closed already (the kernel keeps no owner for a closed
    // socket, and says root), the lookup failed, or way() is None.
    std::optional<uid_t> ownerOfPeer(SocketHandle connection);

    // Whether the other end of each connection is a process of the user running this one:
    // the same effective user, so root's processes are another user's for anyone else.
    // Unknown where ownerOfPeer would answer nothing. The TCP table is read once for all.
    void peersOf(const std::vector<SocketHandle>& connections, std::vector<Peer>& peers);

private:
    // A socket's own end and its other end, addresses and ports in network byte order.
    struct Ends {
        std::uint32_t localAddress;
        std::uint16_t localPort;
        std::uint32_t remoteAddress;
        std::uint16_t remotePort;
    };
    // owners[i] becomes the owner of the socket with ends[i], as ownerOfPeer tells it.
    void ownersOf(const std::vector<Ends>& ends, Way way, std::vector<std::optional<uid_t>>& owners);
    std::optional<uid_t> askSocketDiagnostics(const Ends& ends);

    Way way_ = Way::None;
    uid_t user_;
    SocketHandle netlink_ = kInvalidSocket;
    std::uint32_t sequence_ = 0;
    // Kept from one question to the next, so asking allocates nothing once they have grown.
    std::vector<Ends> ends_;
    std::vector<std::optional<uid_t>> owners_;
};

// A socket to ask the kernel's socket diagnostics with (netlink), whose receives give up
// after 100 ms; kInvalidSocket where the system offers none.
SocketHandle openSocketDiagnostics();

}  // namespace ostrel::api_server
