#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel::api_server {

// JSON-RPC 2.0's own codes, then the server's (in the range the protocol leaves free).
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;
inline constexpr int kBadToken = -32001;
inline constexpr int kQueueFull = -32002;
inline constexpr int kTooLong = -32003;
inline constexpr int kBusy = -32004;
inline constexpr int kTooSlow = -32005;
inline constexpr int kNotTheUsers = -32006;

// The longest request line is kMaxMessageBytes, what a ring slot holds (rings/MessageRing.h).
// The longest reply; a clip of 10,000 notes answers about 1 MB.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{16} << 20;
// How long a client may take to send a whole request with the right token after it
// connects, and to finish any line it has begun: a client that lingers longer is told
// and closed, so the one-client door is never held by a client without the token.
inline constexpr int kClientPatienceMs = 3000;

// The deepest nesting of arrays and objects a request may have; deeper ones are refused
// before they are parsed, since reading and writing them back recurses.
inline constexpr int kMaxNesting = 64;

inline constexpr std::string_view kNotJsonMessage = "the line is not valid JSON";
inline constexpr std::string_view kTooDeepMessage =
    "the line nests arrays and objects deeper than 64 levels, more than a request ever needs";
inline constexpr std::string_view kNumberTooLargeMessage =
    "the line holds a number too large to read (beyond 1.7e308 either way)";
inline constexpr std::string_view kNulByteMessage = "the line is not valid JSON: it holds a NUL byte";
inline constexpr std::string_view kNoMethodMessage = "every request needs a \"method\" string";
inline constexpr std::string_view kParamsNotObjectMessage = "\"params\" must be an object";
inline constexpr std::string_view kUnknownMethodPrefix = "unknown method: ";
inline constexpr std::string_view kNoHandlerMessage = "no handler is installed";
inline constexpr std::string_view kHandlerNotJsonMessage = "the handler returned text that is not JSON";
inline constexpr std::string_view kInternalErrorPrefix = "internal error: ";
inline constexpr std::string_view kBadTokenMessage = "the token is wrong or missing";
inline constexpr std::string_view kQueueFullMessage = "the API queue is full; slow down";
inline constexpr std::string_view kReplyTooLongMessage = "the reply is too long";
inline constexpr std::string_view kBusyMessage =
    "another client is already connected (one at a time); try again when it disconnects";
// Said to a client turned away while nobody holds the door, to make room for another.
inline constexpr std::string_view kCrowdedMessage =
    "too many clients are connecting at once; try again in a moment";
inline constexpr std::string_view kNoTokenInTimeMessage =
    "no request with the right token came within 3 seconds of connecting; closing the connection so that other "
    "clients can connect";
inline constexpr std::string_view kUnfinishedLineMessage =
    "a request line was left unfinished for 3 seconds (each request ends with a newline); closing the connection "
    "so that other clients can connect";
// Said to a connection closed before its first line is read, since the door serves only the
// processes of the user running the program, whatever token they hold.
inline constexpr std::string_view kAnotherUserMessage =
    "this connection comes from another user's process; the door serves only the processes of the user running the "
    "program";
inline constexpr std::string_view kOwnerUnknownMessage =
    "whose process this connection comes from could not be told; closing it";
inline constexpr std::string_view kOutOfMemoryMessage = "internal error: out of memory";
inline constexpr std::string_view kJsonValueMessage =
    "internal error: a value of the request or of its answer could not be read or written as JSON";

// A JSON-RPC error on its way to the client: the request handler throws it by value and
// the server answers it as an error reply with this code and what() as the message.
class ApiError : public std::runtime_error {
public:
    ApiError(int code, const std::string& message) : std::runtime_error(message), code(code) {}
    ~ApiError() override = default;

    int code;
};

}  // namespace ostrel::api_server
