#pragma once

#include "api_server/socket/Socket.h"

#include <chrono>
#include <string>
#include <string_view>

namespace ostrel::api_server {

enum class LineRead {
    Line,     // a line was handed out
    TooLong,  // a line longer than kMaxMessageBytes was dropped
    Nothing,  // no line within the wait, or the connection is closed
};

// One connected TCP client: cuts its bytes into lines at '\n'. Owns the socket and closes
// it when destroyed. Used by one thread at a time.
class Connection {
public:
    explicit Connection(SocketHandle handle) noexcept : handle_(handle) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The next line without its '\n' (a '\r' before it stays). A line longer than
    // kMaxMessageBytes answers TooLong once and is dropped, also when its '\n' never comes:
    // after that many bytes without one, everything up to the next '\n' is thrown away,
    // so the buffer stays bounded. The wait also ends, with Nothing, when `wake` becomes
    // readable (kInvalidSocket: no such signal).
    LineRead readLine(std::string& out, int timeoutMs, SocketHandle wake = kInvalidSocket);

    // For a reader of many clients side by side: moves what has arrived (one chunk at
    // most) into the buffer without waiting, then takeLine hands out its lines as readLine
    // would, without reading the socket.
    void receiveWaiting();
    LineRead takeLine(std::string& out);
    // Puts a line just taken back in front of the buffer, to be handed out again.
    void putBack(std::string_view line);

    // Sends the text and a '\n'; false, closing the connection, when not every byte went
    // out in time.
    [[nodiscard]] bool writeLine(std::string_view text, int timeoutMs);

    // The client has finished sending (it half-closed, as `nc -N` does, or closed): what
    // it sent before still comes out of readLine (a last line without its '\n' is
    // dropped), and replies can still be written.
    bool inputEnded() const noexcept { return inputEnded_; }
    // Whether readLine would hand out a line without waiting.
    bool hasWaitingLine() const noexcept;
    // Whether any byte has come from the client.
    bool heardFrom() const noexcept { return heardFrom_; }
    // When the first byte of the line still waiting for its '\n' came (an over-long line
    // being dropped counts); the clock's epoch while every line received is whole.
    std::chrono::steady_clock::time_point unfinishedSince() const noexcept { return unfinishedSince_; }

    bool closed() const noexcept { return closed_ || handle_ == kInvalidSocket; }
    // For waiting on many connections at once; kInvalidSocket once closed.
    SocketHandle handle() const noexcept { return handle_; }
    // Closes at once; unread bytes from the client make the system answer with a reset.
    void close() noexcept;
    // Closes in order: says the server has finished sending, reads and drops what the
    // client sent that is already here (unread bytes would turn the close into a reset
    // that can destroy the last line before the client reads it), then closes.
    void closeInOrder() noexcept;

private:
    // Called with each chunk before it joins the buffer.
    void noteUnfinishedLine(std::string_view chunk);
    // One recv of at most a chunk into the buffer; the flags go to recv.
    void receive(int flags);

    SocketHandle handle_;
    std::string buffer_;
    bool closed_ = false;
    bool inputEnded_ = false;
    bool discarding_ = false;  // inside an over-long line, waiting for its '\n'
    bool heardFrom_ = false;
    std::chrono::steady_clock::time_point unfinishedSince_{};
};

}  // namespace ostrel::api_server
