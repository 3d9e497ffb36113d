#include "api_server/jsonrpc/RequestId.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace ostrel::api_server {
namespace {

using nlohmann::json;

// Positions in a JSON text the parser has accepted; npos for anything unexpected, so a
// text that is not valid JSON after all ends the walk instead of being read past.
constexpr std::size_t kNone = std::string_view::npos;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::size_t skipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && isSpace(text[at])) {
        ++at;
    }
    return at;
}

// From the opening quote to just past the closing one.
std::size_t endOfString(std::string_view text, std::size_t at) {
    for (++at; at < text.size(); ++at) {
        if (text[at] == '\\') {
            ++at;
        } else if (text[at] == '"') {
            return at + 1;
        }
    }
    return kNone;
}

// From the first character of a value to just past its last.
std::size_t endOfValue(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return kNone;
    }
    if (text[at] == '"') {
        return endOfString(text, at);
    }
    if (text[at] != '{' && text[at] != '[') {
        while (at < text.size() && !isSpace(text[at]) && text[at] != ',' && text[at] != '}' && text[at] != ']') {
            ++at;
        }
        return at;
    }
    int depth = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (c == '"') {
            at = endOfString(text, at);
            if (at == kNone) {
                return kNone;
            }
            continue;
        }
        depth += (c == '{' || c == '[') ? 1 : (c == '}' || c == ']') ? -1 : 0;
        ++at;
        if (depth == 0) {
            return at;
        }
    }
    return kNone;
}

// A member name, quotes included, that reads "id" (also when written with escapes).
bool isIdName(std::string_view quoted) {
    if (quoted == R"("id")") {
        return true;
    }
    if (quoted.find('\\') == std::string_view::npos) {
        return false;
    }
    const json name = json::parse(quoted.begin(), quoted.end(), nullptr, false);
    return name.is_string() && name.get_ref<const std::string&>() == "id";
}

}  // namespace

std::string withoutSpaces(std::string_view value) {
    std::string compact;
    compact.reserve(value.size());
    for (std::size_t at = 0; at < value.size();) {
        if (value[at] == '"') {
            const std::size_t end = std::min(endOfString(value, at), value.size());
            compact.append(value.substr(at, end - at));
            at = end;
        } else {
            if (!isSpace(value[at])) {
                compact.push_back(value[at]);
            }
            ++at;
        }
    }
    return compact;
}

std::optional<std::string> rawRequestId(std::string_view line) {
    std::size_t at = skipSpace(line, 0);
    if (at >= line.size() || line[at] != '{') {
        return std::nullopt;
    }
    std::optional<std::string> id;
    at = skipSpace(line, at + 1);
    while (at < line.size() && line[at] == '"') {
        const std::size_t nameEnd = endOfString(line, at);
        const std::size_t colon = skipSpace(line, nameEnd == kNone ? line.size() : nameEnd);
        if (colon >= line.size() || line[colon] != ':') {
            return std::nullopt;
        }
        const std::size_t valueStart = skipSpace(line, colon + 1);
        const std::size_t valueEnd = endOfValue(line, valueStart);
        if (valueEnd == kNone) {
            return std::nullopt;
        }
        if (isIdName(line.substr(at, nameEnd - at))) {
            id = withoutSpaces(line.substr(valueStart, valueEnd - valueStart));
        }
        at = skipSpace(line, valueEnd);
        if (at >= line.size() || line[at] != ',') {
            break;
        }
        at = skipSpace(line, at + 1);
    }
    return id;
}

}  // namespace ostrel::api_server
