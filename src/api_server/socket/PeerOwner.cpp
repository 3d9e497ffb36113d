#include "api_server/socket/PeerOwner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace ostrel::api_server {
namespace {

// The kernel answers a socket-diagnostics question before the send returns; the wait only
// bounds a kernel that never does.
constexpr int kNetlinkReplyWaitMs = 100;

std::optional<sockaddr_in> addressOf(SocketHandle socket, int (*get)(int, sockaddr*, socklen_t*)) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (get(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 || address.sin_family != AF_INET) {
        return std::nullopt;
    }
    return address;
}

}  // namespace

SocketHandle openSocketDiagnostics() {
    const SocketHandle handle = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (handle < 0) {
        return kInvalidSocket;
    }
    timeval limit{};
    limit.tv_usec = kNetlinkReplyWaitMs * 1000;
    ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return handle;
}

PeerOwner::PeerOwner(const Socket& listener, const std::vector<Way>& ways) : user_(::geteuid()) {
    const std::optional<sockaddr_in> address = addressOf(listener.handle(), ::getsockname);
    if (address) {
        // A listening socket's other end is no address at all.
        ends_.assign(1, Ends{address->sin_addr.s_addr, address->sin_port, 0, 0});
        for (const Way way : ways) {
            if (way == Way::SocketDiagnostics && netlink_ == kInvalidSocket) {
                netlink_ = openSocketDiagnostics();
            }
            ownersOf(ends_, way, owners_);
            if (owners_[0] == user_) {
                way_ = way;
                break;
            }
        }
    }
    if (way_ != Way::SocketDiagnostics) {
        closeSocket(std::exchange(netlink_, kInvalidSocket));
    }
}

PeerOwner::~PeerOwner() { closeSocket(netlink_); }

PeerOwner::PeerOwner(PeerOwner&& other) noexcept
    : way_(std::exchange(other.way_, Way::None)),
      user_(other.user_),
      netlink_(std::exchange(other.netlink_, kInvalidSocket)),
      sequence_(other.sequence_),
      ends_(std::move(other.ends_)),
      owners_(std::move(other.owners_)) {}

PeerOwner& PeerOwner::operator=(PeerOwner&& other) noexcept {
    if (this != &other) {
        closeSocket(netlink_);
        way_ = std::exchange(other.way_, Way::None);
        user_ = other.user_;
        netlink_ = std::exchange(other.netlink_, kInvalidSocket);
        sequence_ = other.sequence_;
        ends_ = std::move(other.ends_);
        owners_ = std::move(other.owners_);
    }
    return *this;
}

std::optional<uid_t> PeerOwner::ownerOfPeer(SocketHandle connection) {
    std::vector<Peer> ignored;
    peersOf({connection}, ignored);
    return owners_[0];
}

void PeerOwner::peersOf(const std::vector<SocketHandle>& connections, std::vector<Peer>& peers) {
    ends_.clear();
    for (const SocketHandle connection : connections) {
        const std::optional<sockaddr_in> ours = addressOf(connection, ::getsockname);
        const std::optional<sockaddr_in> theirs = addressOf(connection, ::getpeername);
        // The other end's socket: its own end is their address, its other end ours. A
        // connection that cannot say is asked about the ends no socket has.
        ends_.push_back(ours && theirs ? Ends{theirs->sin_addr.s_addr, theirs->sin_port, ours->sin_addr.s_addr,
                                              ours->sin_port}
                                       : Ends{0, 0, 0, 0});
    }
    ownersOf(ends_, way_, owners_);
    peers.clear();
    for (const std::optional<uid_t>& owner : owners_) {
        peers.push_back(!owner ? Peer::Unknown : *owner == user_ ? Peer::TheUser : Peer::AnotherUser);
    }
}

void PeerOwner::ownersOf(const std::vector<Ends>& ends, Way way, std::vector<std::optional<uid_t>>& owners) {
    owners.assign(ends.size(), std::nullopt);
    if (way == Way::SocketDiagnostics) {
        for (std::size_t i = 0; i < ends.size(); ++i) {
            if (ends[i].localPort != 0) {
                owners[i] = askSocketDiagnostics(ends[i]);
            }
        }
        return;
    }
    std::FILE* table = way == Way::SocketTable ? std::fopen("/proc/net/tcp", "re") : nullptr;
    if (table == nullptr) {
        return;
    }
    // Read once for all: the kernel writes every socket's row for each reading, thousands of
    // them on a busy computer (closed sockets stay listed for a minute).
    std::size_t unknown = ends.size();
    char line[512];
    while (unknown > 0 && std::fgets(line, sizeof line, table) != nullptr) {
        // "  4: 0100007F:1F90 0100007F:D2C4 01 00000000:00000000 00:00000000 00000000  1000 0 91234 ..."
        // An address is its four bytes read as one number, a port in the usual order; the
        // header line does not parse.
        unsigned localAddress = 0;
        unsigned localPort = 0;
        unsigned remoteAddress = 0;
        unsigned remotePort = 0;
        unsigned uid = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, " %*u: %8X:%4X %8X:%4X %*X %*X:%*X %*X:%*X %*X %u %*u %lu", &localAddress, &localPort,
                        &remoteAddress, &remotePort, &uid, &inode) != 6 ||
            inode == 0) {
            continue;  // a closed socket is listed with no inode and root as its owner
        }
        for (std::size_t i = 0; i < ends.size(); ++i) {
            const Ends& wanted = ends[i];
            if (!owners[i] && wanted.localPort != 0 && localAddress == wanted.localAddress &&
                localPort == ntohs(wanted.localPort) && remoteAddress == wanted.remoteAddress &&
                remotePort == ntohs(wanted.remotePort)) {
                owners[i] = static_cast<uid_t>(uid);
                --unknown;
            }
        }
    }
    std::fclose(table);
}

std::optional<uid_t> PeerOwner::askSocketDiagnostics(const Ends& ends) {
    if (netlink_ == kInvalidSocket) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    const std::uint32_t sequence = ++sequence_;
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;  // one socket, the one with these ends
    request.header.nlmsg_seq = sequence;
    request.body.sdiag_family = AF_INET;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    request.body.id.idiag_sport = ends.localPort;
    request.body.id.idiag_dport = ends.remotePort;
    request.body.id.idiag_src[0] = ends.localAddress;
    request.body.id.idiag_dst[0] = ends.remoteAddress;
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(netlink_, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(sizeof request)) {
        return std::nullopt;
    }
    alignas(nlmsghdr) char reply[8192];
    for (;;) {
        const ssize_t received = ::recv(netlink_, reply, sizeof reply, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return std::nullopt;
        }
        int length = static_cast<int>(received);
        for (auto* header = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(header, length);
             header = NLMSG_NEXT(header, length)) {
            if (header->nlmsg_seq != sequence) {
                continue;  // a late answer to an earlier question
            }
            if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                return std::nullopt;  // an error: mostly no such socket (any more)
            }
            const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            // A closed socket keeps no owner: it is answered with no inode and root.
            if (message->idiag_inode == 0) {
                return std::nullopt;
            }
            return static_cast<uid_t>(message->idiag_uid);
        }
    }
}

}  // namespace ostrel::api_server
