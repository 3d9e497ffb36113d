#include "model/file/JsonTextWriter.h"

#include <cmath>
#include <utility>

#include "core/files/JsonText.h"

namespace ostrel::model {

namespace {

using nlohmann::json;

std::string placeName(const std::string& path) {
    return path.empty() ? "the project" : path;
}

// Finds the first value that a file cannot keep: the library would write a non-finite
// number as null (and the file would not open again) and throws on text that is not UTF-8.
// Member names are checked before their values, so a path in a message is always UTF-8.
bool findUnsavable(const json& value, std::string& path, std::string& reason) {
    switch (value.type()) {
    case json::value_t::object:
        for (const auto& [key, member] : value.items()) {
            if (!core::isValidUtf8(key)) {
                reason = "a member name in " + placeName(path) + " is not valid UTF-8 text";
                return true;
            }
            const std::size_t mark = path.size();
            if (!path.empty()) path += '.';
            path += key;
            if (findUnsavable(member, path, reason)) return true;
            path.resize(mark);
        }
        return false;
    case json::value_t::array:
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::size_t mark = path.size();
            path += '[' + std::to_string(i) + ']';
            if (findUnsavable(value[i], path, reason)) return true;
            path.resize(mark);
        }
        return false;
    case json::value_t::number_float:
        if (!std::isfinite(value.get<double>())) {
            reason = "the value at " + placeName(path) + " is not a finite number";
            return true;
        }
        return false;
    case json::value_t::string:
        if (!core::isValidUtf8(value.get_ref<const std::string&>())) {
            reason = "the text at " + placeName(path) + " is not valid UTF-8";
            return true;
        }
        return false;
    default:
        return false;
    }
}

}  // namespace

std::string JsonPlace::path() const {
    if (!parent) return {};
    std::string text = parent->path();
    if (isElement) return text + '[' + std::to_string(index) + ']';
    if (!text.empty()) text += '.';
    return text.append(key);
}

std::string JsonPlace::name() const { return placeName(path()); }

JsonTextWriter::JsonTextWriter(std::string& out, std::string& reason)
    : out_(out), reason_(reason), serializer_(nlohmann::detail::output_adapter<char, std::string>(out), ' ') {}

bool JsonTextWriter::text(std::string_view value, const JsonPlace& place) {
    if (!core::isValidUtf8(value)) return fail("the text at " + place.name() + " is not valid UTF-8");
    out_ += '"';
    escaped(value);
    out_ += '"';
    return true;
}

bool JsonTextWriter::real(double value, const JsonPlace& place) {
    if (!std::isfinite(value)) return fail("the value at " + place.name() + " is not a finite number");
    std::array<char, 64> buffer;
    const char* end = nlohmann::detail::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out_.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    return true;
}

bool JsonTextWriter::value(const json& value, const JsonPlace& place) {
    std::string path = place.path();
    std::string reason;
    if (findUnsavable(value, path, reason)) return fail(std::move(reason));
    serializer_.dump(value, /*pretty_print=*/true, /*ensure_ascii=*/false, 2, static_cast<unsigned>(depth_ * 2));
    first_ = false;
    return true;
}

bool JsonTextWriter::fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
}

void JsonTextWriter::escaped(std::string_view value) {
    std::size_t plain = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out_.append(value.data() + plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\b': out_ += "\\b"; break;
        case '\t': out_ += "\\t"; break;
        case '\n': out_ += "\\n"; break;
        case '\f': out_ += "\\f"; break;
        case '\r': out_ += "\\r"; break;
        default: {
            constexpr char kHex[] = "0123456789abcdef";
            out_ += "\\u00";
            out_ += kHex[c >> 4];
            out_ += kHex[c & 0x0F];
        }
        }
    }
    out_.append(value.data() + plain, value.size() - plain);
}

JsonTextWriter::Extra::Extra(JsonTextWriter& writer, const JsonValue& extra, const JsonPlace& place)
    : writer_(writer), place_(place), object_(extra.isObject() ? &extra.get() : nullptr) {
    if (object_) next_ = object_->cbegin();
}

bool JsonTextWriter::Extra::before(std::string_view known) {
    if (!object_) return true;
    const auto end = object_->cend();
    while (next_ != end && std::string_view(next_.key()) < known) {
        if (!write()) return false;
        ++next_;
    }
    if (next_ != end && std::string_view(next_.key()) == known) ++next_;
    return true;
}

bool JsonTextWriter::Extra::rest() {
    if (!object_) return true;
    for (; next_ != object_->cend(); ++next_) {
        if (!write()) return false;
    }
    return true;
}

bool JsonTextWriter::Extra::write() {
    const std::string& name = next_.key();
    if (!core::isValidUtf8(name)) {
        return writer_.fail("a member name in " + place_.name() + " is not valid UTF-8 text");
    }
    writer_.escapedKey(name);
    return writer_.value(next_.value(), place_.member(name));
}

}  // namespace ostrel::model
