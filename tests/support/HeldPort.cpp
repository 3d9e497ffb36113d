#include "support/HeldPort.h"

#include "support/AnotherUser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace ostrel::test {
namespace {

// A socket of type at address, listening for TCP; its port through port. Only system calls,
// so a child of a process with threads may make it between fork and exit.
int holdSocket(int type, const sockaddr_storage& address, socklen_t length, std::uint16_t& port) {
    const int fd = ::socket(address.ss_family, type, 0);
    sockaddr_storage bound = address;
    socklen_t boundLength = length;
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 1) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                             : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
    return fd;
}

bool addressOf(const std::string& text, sockaddr_storage& address, socklen_t& length) {
    address = {};
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        length = sizeof v4;
        return true;
    }
    if (::inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        length = sizeof v6;
        return true;
    }
    return false;
}

}  // namespace

HeldPort::HeldPort(int type, By by, const std::string& address) {
    sockaddr_storage where{};
    socklen_t length = 0;
    if (!addressOf(address, where, length)) {
        problem_ = address + " is no address";
        return;
    }
    if (by == By::TheUser) {
        socket_ = holdSocket(type, where, length, port_);
        problem_ = socket_ < 0 ? "the port could not be held: " + std::string(std::strerror(errno)) : "";
        return;
    }
    if (!mayActAsAnotherUser()) {
        problem_ = "only root may hold a port as another user";
        return;
    }
    int told[2];
    int release[2];
    if (::pipe(told) != 0 || ::pipe(release) != 0) {
        problem_ = "no pipe";
        return;
    }
    child_ = ::fork();
    if (child_ < 0) {
        for (const int end : {told[0], told[1], release[0], release[1]}) {
            ::close(end);
        }
        problem_ = "no child process";
        return;
    }
    if (child_ == 0) {
        ::close(told[0]);
        ::close(release[1]);
        becomeAnotherUser();
        std::uint16_t port = 0;
        const int fd = holdSocket(type, where, length, port);
        (void)!::write(told[1], &port, sizeof port);
        ::close(told[1]);
        char ignored;
        while (::read(release[0], &ignored, 1) < 0 && errno == EINTR) {
        }
        ::_exit(fd >= 0 ? 0 : 1);
    }
    ::close(told[1]);
    ::close(release[0]);
    release_ = release[1];
    std::uint16_t port = 0;
    ssize_t got = -1;
    while ((got = ::read(told[0], &port, sizeof port)) < 0 && errno == EINTR) {
    }
    ::close(told[0]);
    port_ = got == sizeof port ? port : 0;
    problem_ = port_ == 0 ? "the other user's process could not hold a port" : "";
}

HeldPort::~HeldPort() {
    if (socket_ >= 0) {
        ::close(socket_);
    }
    if (release_ >= 0) {
        ::close(release_);
    }
    if (child_ > 0) {
        int status = 0;
        ::waitpid(child_, &status, 0);
    }
}

}  // namespace ostrel::test
