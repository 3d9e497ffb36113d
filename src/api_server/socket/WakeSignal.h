#pragma once

#include "api_server/socket/Socket.h"

namespace ostrel::api_server {

// Lets one thread cut another's wait on a socket short: raise() makes handle() readable
// until clear(). Any thread; raise never blocks. Falls back to doing nothing (the waiter
// then sees only its own time limit) when the system cannot make one.
class WakeSignal {
public:
    WakeSignal() noexcept;
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void raise() noexcept;
    void clear() noexcept;
    SocketHandle handle() const noexcept { return handle_; }

private:
    SocketHandle handle_;
};

}  // namespace ostrel::api_server
