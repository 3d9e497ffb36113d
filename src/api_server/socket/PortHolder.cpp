#include "api_server/socket/PortHolder.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ostrel::api_server {
namespace {

// One socket as the kernel lists it. The address is its words as the kernel keeps them (in
// network byte order), as both the diagnostics and the tables give them.
struct Listed {
    std::array<std::uint32_t, 4> address{};
    std::uint16_t port = 0;
    unsigned state = 0;
    uid_t owner = 0;
    unsigned long inode = 0;
};

// Whether a socket of the family takes 127.0.0.1:port away: bound there or to every address.
bool holds(const Listed& socket, int family, Transport transport, std::uint16_t port) {
    // A closed socket is listed with no inode and root as its owner; a TCP socket holds the
    // port only while it listens, as the door's SO_REUSEADDR passes over the others.
    if (socket.port != port || socket.inode == 0 || (transport == Transport::Tcp && socket.state != TCP_LISTEN)) {
        return false;
    }
    const std::array<std::uint32_t, 4>& a = socket.address;
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    if (family == AF_INET) {
        return a[0] == loopback || a[0] == 0;
    }
    return a[0] == 0 && a[1] == 0 && ((a[2] == 0 && a[3] == 0) || (a[2] == htonl(0xffff) && a[3] == loopback));
}

// Every socket of the transport and family, asked of the socket diagnostics in one dump.
std::optional<uid_t> askSocketDiagnostics(Transport transport, int family, std::uint16_t port) {
    const SocketHandle netlink = openSocketDiagnostics();
    if (netlink == kInvalidSocket) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.sdiag_family = static_cast<std::uint8_t>(family);
    request.body.sdiag_protocol = transport == Transport::Tcp ? IPPROTO_TCP : IPPROTO_UDP;
    request.body.idiag_states = transport == Transport::Tcp ? 1U << TCP_LISTEN : ~0U;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::optional<uid_t> holder;
    bool done = ::sendto(netlink, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
                         sizeof kernel) != static_cast<ssize_t>(sizeof request);
    alignas(nlmsghdr) char reply[16384];
    while (!done && !holder) {
        const ssize_t received = ::recv(netlink, reply, sizeof reply, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        int length = static_cast<int>(received);
        done = received <= 0;
        for (auto* header = reinterpret_cast<nlmsghdr*>(reply); !done && NLMSG_OK(header, length);
             header = NLMSG_NEXT(header, length)) {
            // The end of the dump, or an error: this system lists no such sockets this way.
            done = header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
                   header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg));
            if (done) {
                break;
            }
            const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
            Listed socket;
            std::memcpy(socket.address.data(), message->id.idiag_src, sizeof socket.address);
            socket.port = ntohs(message->id.idiag_sport);
            socket.state = message->idiag_state;
            socket.owner = message->idiag_uid;
            socket.inode = message->idiag_inode;
            if (holds(socket, family, transport, port)) {
                holder = socket.owner;
                break;
            }
        }
    }
    closeSocket(netlink);
    return holder;
}

// An address as a table prints it: each word of it as eight hexadecimal digits.
bool readAddress(const char* digits, std::array<std::uint32_t, 4>& address) {
    const std::size_t words = std::strlen(digits) / 8;
    if (words != 1 && words != 4) {
        return false;
    }
    address = {};
    for (std::size_t i = 0; i < words; ++i) {
        const std::string word(digits + i * 8, 8);
        address[i] = static_cast<std::uint32_t>(std::strtoul(word.c_str(), nullptr, 16));
    }
    return true;
}

// The same, read from the kernel's table of the transport and family in /proc/net.
std::optional<uid_t> readSocketTable(Transport transport, int family, std::uint16_t port) {
    const std::string path = std::string("/proc/net/") + (transport == Transport::Tcp ? "tcp" : "udp") +
                             (family == AF_INET6 ? "6" : "");
    std::FILE* table = std::fopen(path.c_str(), "re");
    if (table == nullptr) {
        return std::nullopt;
    }
    std::optional<uid_t> holder;
    char line[512];
    while (!holder && std::fgets(line, sizeof line, table) != nullptr) {
        // "  4: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 0 91234 ..."
        // The header line does not parse.
        char address[33] = {};
        unsigned localPort = 0;
        unsigned uid = 0;
        Listed socket;
        if (std::sscanf(line, " %*u: %32[0-9A-Fa-f]:%4X %*[0-9A-Fa-f]:%*4X %X %*X:%*X %*X:%*X %*X %u %*u %lu", address,
                        &localPort, &socket.state, &uid, &socket.inode) != 5 ||
            !readAddress(address, socket.address)) {
            continue;
        }
        socket.port = static_cast<std::uint16_t>(localPort);
        socket.owner = static_cast<uid_t>(uid);
        if (holds(socket, family, transport, port)) {
            holder = socket.owner;
        }
    }
    std::fclose(table);
    return holder;
}

std::optional<uid_t> ask(PeerOwner::Way way, Transport transport, int family, std::uint16_t port) {
    switch (way) {
    case PeerOwner::Way::SocketDiagnostics:
        return askSocketDiagnostics(transport, family, port);
    case PeerOwner::Way::SocketTable:
        return readSocketTable(transport, family, port);
    default:
        return std::nullopt;
    }
}

}  // namespace

std::optional<uid_t> holderOfPort(Transport transport, std::uint16_t port, const std::vector<PeerOwner::Way>& ways) {
    for (const int family : {AF_INET, AF_INET6}) {
        for (const PeerOwner::Way way : ways) {
            if (const std::optional<uid_t> holder = ask(way, transport, family, port)) {
                return holder;
            }
        }
    }
    return std::nullopt;
}

}  // namespace ostrel::api_server
