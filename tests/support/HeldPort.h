#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace ostrel::test {

// A port of the loopback held, until destroyed, by a socket of the given type (SOCK_STREAM
// listening, SOCK_DGRAM bound) at an address ("127.0.0.1", "0.0.0.0", "::") on a port the
// system chooses: by this process, or by a child running as another user (root only).
class HeldPort {
public:
    enum class By { TheUser, AnotherUser };

    HeldPort(int type, By by, const std::string& address = "127.0.0.1");
    ~HeldPort();
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    // 0 when the port could not be held; problem() then says why.
    std::uint16_t port() const { return port_; }
    const std::string& problem() const { return problem_; }

private:
    int socket_ = -1;
    pid_t child_ = -1;
    int release_ = -1;  // the child holds the port until this pipe's end is closed
    std::uint16_t port_ = 0;
    std::string problem_;
};

}  // namespace ostrel::test
