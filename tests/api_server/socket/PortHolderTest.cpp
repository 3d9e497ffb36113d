#include "api_server/socket/PortHolder.h"

#include "support/AnotherUser.h"
#include "support/HeldPort.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace ostrel::api_server {
namespace {

using test::HeldPort;

struct HolderCase {
    const char* name;
    int type;
    const char* address;  // where the holder's socket is bound
    HeldPort::By by;
};

// Each way, each transport, and a holder on 127.0.0.1 itself or on every address of either
// family: what keeps a door off the port is what is named.
TEST(PortHolderTest, EachWayNamesTheUserWhoseSocketHoldsThePort) {
    const HolderCase cases[] = {
        {"TCP on 127.0.0.1", SOCK_STREAM, "127.0.0.1", HeldPort::By::TheUser},
        {"TCP on every IPv4 address", SOCK_STREAM, "0.0.0.0", HeldPort::By::TheUser},
        {"TCP on every address", SOCK_STREAM, "::", HeldPort::By::TheUser},
        {"UDP on 127.0.0.1", SOCK_DGRAM, "127.0.0.1", HeldPort::By::TheUser},
        {"UDP on every address", SOCK_DGRAM, "::", HeldPort::By::TheUser},
        {"TCP, another user's", SOCK_STREAM, "127.0.0.1", HeldPort::By::AnotherUser},
        {"UDP, another user's", SOCK_DGRAM, "127.0.0.1", HeldPort::By::AnotherUser},
    };
    for (const PeerOwner::Way way : {PeerOwner::Way::SocketDiagnostics, PeerOwner::Way::SocketTable}) {
        for (const HolderCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (way == PeerOwner::Way::SocketTable ? ", the table" : ", diagnostics"));
            if (c.by == HeldPort::By::AnotherUser && !test::mayActAsAnotherUser()) {
                continue;  // only root may hold a port as another user
            }
            const HeldPort held(c.type, c.by, c.address);
            ASSERT_NE(held.port(), 0) << held.problem();
            const uid_t expected = c.by == HeldPort::By::TheUser ? ::geteuid() : static_cast<uid_t>(test::kNobody);
            EXPECT_EQ(holderOfPort(c.type == SOCK_STREAM ? Transport::Tcp : Transport::Udp, held.port(), {way}),
                      std::optional<uid_t>(expected));
        }
    }
}

// A port held for the other transport keeps no door of this transport out: nothing is named.
TEST(PortHolderTest, NothingIsNamedForAPortNoSocketOfTheTransportHolds) {
    const HeldPort udp(SOCK_DGRAM, HeldPort::By::TheUser);
    ASSERT_NE(udp.port(), 0) << udp.problem();
    const HeldPort tcp(SOCK_STREAM, HeldPort::By::TheUser);
    ASSERT_NE(tcp.port(), 0) << tcp.problem();
    for (const PeerOwner::Way way : {PeerOwner::Way::SocketDiagnostics, PeerOwner::Way::SocketTable}) {
        EXPECT_EQ(holderOfPort(Transport::Tcp, udp.port(), {way}), std::nullopt);
        EXPECT_EQ(holderOfPort(Transport::Udp, tcp.port(), {way}), std::nullopt);
    }
    EXPECT_EQ(holderOfPort(Transport::Tcp, tcp.port(), {}), std::nullopt) << "no way asked";
}

}  // namespace
}  // namespace ostrel::api_server
