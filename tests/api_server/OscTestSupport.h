#pragma once

#include "api_server/osc/OscServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace ostrel::test {

// OSC bytes written field by field, as a controller would send them. `pad` fills the
// padding after a string's first NUL, so tests can put anything there.
class OscBytes {
public:
    OscBytes& string(std::string_view text, char pad = '\0') {
        bytes_ += text;
        bytes_ += '\0';
        while (bytes_.size() % 4 != 0) {
            bytes_ += pad;
        }
        return *this;
    }
    OscBytes& int32(std::int32_t value) { return word(std::bit_cast<std::uint32_t>(value)); }
    OscBytes& float32(float value) { return word(std::bit_cast<std::uint32_t>(value)); }
    OscBytes& raw(std::string_view bytes) {
        bytes_ += bytes;
        return *this;
    }
    const std::string& bytes() const { return bytes_; }
    operator const std::string&() const { return bytes_; }

private:
    OscBytes& word(std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes_ += static_cast<char>((value >> shift) & 0xFF);
        }
        return *this;
    }
    std::string bytes_;
};

// An address and its type tag string; the arguments follow with OscBytes' own calls.
inline OscBytes oscMessage(std::string_view address, std::string_view tags = ",") {
    OscBytes bytes;
    bytes.string(address).string(tags);
    return bytes;
}

// A loopback UDP sender, as a controller on the same computer.
class UdpSender {
public:
    UdpSender() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~UdpSender() { ::close(fd_); }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool send(std::uint16_t port, const std::string& bytes) const {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                        sizeof address) == static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_;
};

// Waits until the door has finished with `count` datagrams in all. The limit only guards
// against a hung test; nothing is measured against it.
inline bool waitForDatagrams(const api_server::OscServer& door, std::uint64_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (door.datagramsRead() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace ostrel::test
