#pragma once

#include "api_server/socket/PeerOwner.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace ostrel::api_server {

enum class Transport { Tcp, Udp };

// The user whose process holds a port of 127.0.0.1 that a door could not take: a TCP
// socket listening on it, or a UDP socket bound to it, at 127.0.0.1 or at every address
// (IPv4 first, then IPv6, whose every-address socket may take IPv4 too). Asks the kernel
// the ways given in turn, each listing the sockets of the transport, so it costs what the
// number of them on the computer does: for a failed start, not for every connection.
// Nothing when no way names a holder. Any thread.
std::optional<uid_t> holderOfPort(Transport transport, std::uint16_t port,
                                  const std::vector<PeerOwner::Way>& ways = {PeerOwner::Way::SocketDiagnostics,
                                                                             PeerOwner::Way::SocketTable});

}  // namespace ostrel::api_server
