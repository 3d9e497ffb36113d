#include "api_server/socket/PeerOwner.h"

#include "ApiTestSupport.h"
#include "api_server/socket/Socket.h"
#include "support/AnotherUser.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <vector>

namespace ostrel::api_server {
namespace {

using test::TestClient;

struct WayCase {
    const char* name;
    PeerOwner::Way way;
};

const WayCase kWays[] = {
    {"socket diagnostics", PeerOwner::Way::SocketDiagnostics},
    {"the TCP table", PeerOwner::Way::SocketTable},
};

// A listening socket and what tells its clients' owners the one way given.
struct Door {
    static Socket listening() {
        Socket listener;
        EXPECT_TRUE(listener.listenTcp(0, nullptr));
        return listener;
    }
    explicit Door(PeerOwner::Way way) : owners(listener, {way}) {}

    Socket listener = listening();
    PeerOwner owners;
};

// The connection the listener has taken, closed at the end.
class Accepted {
public:
    explicit Accepted(Socket& listener) : handle_(listener.accept(static_cast<int>(test::kGuard.count()))) {}
    ~Accepted() { closeSocket(handle_); }
    Accepted(const Accepted&) = delete;
    Accepted& operator=(const Accepted&) = delete;
    SocketHandle handle() const { return handle_; }

private:
    SocketHandle handle_;
};

// A socket the kernel keeps after its process has closed it is listed with root as its owner:
// believed, it would let a client that sent its request and closed at once pass for root's.
TEST(PeerOwnerTest, EachWayTellsTheUsersOwnConnectionAndNoOwnerOnceTheOtherEndHasClosed) {
    for (const WayCase& c : kWays) {
        SCOPED_TRACE(c.name);
        Door door(c.way);
        ASSERT_EQ(door.owners.way(), c.way) << "this system does not offer the way";

        TestClient own(door.listener.port());
        const Accepted ownAccepted(door.listener);
        TestClient gone(door.listener.port());
        const Accepted goneAccepted(door.listener);
        gone.close();
        EXPECT_EQ(door.owners.ownerOfPeer(ownAccepted.handle()), ::geteuid());
        EXPECT_EQ(door.owners.ownerOfPeer(goneAccepted.handle()), std::nullopt);
        // Asked together, as the door asks of the clients it has just taken.
        std::vector<PeerOwner::Peer> peers;
        door.owners.peersOf({goneAccepted.handle(), ownAccepted.handle()}, peers);
        EXPECT_EQ(peers, (std::vector{PeerOwner::Peer::Unknown, PeerOwner::Peer::TheUser}));
    }
}

TEST(PeerOwnerTest, EachWayTellsAnotherUsersConnection) {
    if (!test::mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may run a client as another user";
    }
    for (const WayCase& c : kWays) {
        SCOPED_TRACE(c.name);
        Door door(c.way);
        ASSERT_EQ(door.owners.way(), c.way) << "this system does not offer the way";
        test::AnotherUsersClient theirs(door.listener.port(), "");
        {
            const Accepted accepted(door.listener);
            TestClient own(door.listener.port());
            const Accepted ownAccepted(door.listener);
            EXPECT_EQ(door.owners.ownerOfPeer(accepted.handle()), static_cast<uid_t>(test::kNobody));
            std::vector<PeerOwner::Peer> peers;
            door.owners.peersOf({ownAccepted.handle(), accepted.handle()}, peers);
            EXPECT_EQ(peers, (std::vector{PeerOwner::Peer::TheUser, PeerOwner::Peer::AnotherUser}));
        }
        EXPECT_EQ(theirs.finish().problem, "");
    }
}

}  // namespace
}  // namespace ostrel::api_server
