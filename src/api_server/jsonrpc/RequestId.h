#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrel::api_server {

// The text of the top-level "id" member of a request line the JSON parser has accepted,
// without the spaces between its tokens, so a reply can carry it exactly as the client
// wrote it (a 30-digit number, 1.50, an escaped string). The last one counts when there are
// several, as it does for the parser; nothing when there is none, or when the text turns
// out not to be an object after all. Any thread.
std::optional<std::string> rawRequestId(std::string_view line);

// A JSON text without the spaces, tabs and line breaks between its tokens; strings keep
// theirs.
std::string withoutSpaces(std::string_view json);

}  // namespace ostrel::api_server
