#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "model/document/JsonValue.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// Where a value sits in the document, kept on the stack while writing and spelt out
// ("tracks[1].name") only for a message.
struct JsonPlace {
    const JsonPlace* parent = nullptr;
    std::string_view key;  // of a member; may be empty
    std::size_t index = 0;
    bool isElement = false;  // of an array, at index

    JsonPlace member(std::string_view name) const { return {this, name, 0, false}; }
    JsonPlace element(std::size_t at) const { return {this, {}, at, true}; }

    // Empty at the root.
    std::string path() const;
    // The path, or "the project" at the root: how a message names the place.
    std::string name() const;
};

// Writes JSON text as it goes, without building the library's tree, to the same bytes the
// library's dump gives for that tree (indent 2, text outside ASCII as it is, reals in the
// library's shortest form); the caller writes members in byte order of their keys. Values
// the library holds are dumped by its own serialiser at their place. A value a file cannot
// keep (text that is not UTF-8, a number that is not finite) stops the writing: the call
// returns false and the reason, naming the place, goes to the reason string.
class JsonTextWriter {
public:
    // Appends to out; out and reason must outlive the writer.
    JsonTextWriter(std::string& out, std::string& reason);

    // An object or array: open, then its members or elements, then close.
    void open(char bracket) {
        out_ += bracket;
        ++depth_;
        first_ = true;
    }

    void close(char bracket) {
        --depth_;
        if (!first_) {
            out_ += '\n';
            indent();
        }
        out_ += bracket;
        first_ = false;
    }

    // A member name; the known ones need no escapes.
    void key(std::string_view name) {
        element();
        out_ += '"';
        out_ += name;
        out_ += "\": ";
    }

    void escapedKey(std::string_view name) {
        element();
        out_ += '"';
        escaped(name);
        out_ += "\": ";
    }

    // Starts the next element of an array, or of an object before its key.
    void element() {
        if (!first_) out_ += ',';
        out_ += '\n';
        indent();
        first_ = false;
    }

    // An id needs neither checks nor escapes.
    void id(const Uuid& value) {
        out_ += '"';
        value.appendTo(out_);
        out_ += '"';
    }

    [[nodiscard]] bool text(std::string_view value, const JsonPlace& place);
    [[nodiscard]] bool real(double value, const JsonPlace& place);
    void whole(std::int64_t value) {
        std::array<char, 24> buffer;
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
        out_.append(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    }
    void flag(bool value) { out_ += value ? "true" : "false"; }

    // A value the library holds, after the same checks the library's strict dump needs.
    [[nodiscard]] bool value(const nlohmann::json& value, const JsonPlace& place);

    // Members of extra whose keys sort before the next known key, skipping one equal to
    // it: a known key overwrites its namesake in extra.
    class Extra {
    public:
        Extra(JsonTextWriter& writer, const JsonValue& extra, const JsonPlace& place);

        [[nodiscard]] bool before(std::string_view known);
        [[nodiscard]] bool rest();

    private:
        bool write();

        JsonTextWriter& writer_;
        const JsonPlace& place_;
        const nlohmann::json* object_;
        nlohmann::json::const_iterator next_;
    };

    // Stores the reason; always false.
    bool fail(std::string reason);

private:
    void indent() { out_.append(static_cast<std::size_t>(depth_) * 2, ' '); }
    // The library's escapes: quote, backslash and control characters only.
    void escaped(std::string_view value);

    std::string& out_;
    std::string& reason_;
    nlohmann::detail::serializer<nlohmann::json> serializer_;
    int depth_ = 0;
    bool first_ = true;
};

}  // namespace ostrel::model
