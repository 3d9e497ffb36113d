#pragma once

#include <memory>

#include <nlohmann/json_fwd.hpp>

namespace ostrel::model {

// A JSON value held behind a pointer, so the document headers need only the library's
// forward declarations. Copies are deep. A default value is the empty object and costs
// no allocation, which keeps copies of large documents cheap (most records carry no
// unknown keys). Code that reads or builds the value includes <nlohmann/json.hpp>.
class JsonValue {
public:
    JsonValue() noexcept;
    JsonValue(nlohmann::json value);  // NOLINT: converts implicitly, as a json member would
    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept;
    ~JsonValue();

    const nlohmann::json& get() const;
    operator const nlohmann::json&() const { return get(); }  // NOLINT

    bool isObject() const;
    // True for an object with no members (the default).
    bool isEmptyObject() const;

    // The library's equality: a NaN number never equals anything.
    friend bool operator==(const JsonValue& a, const JsonValue& b);

private:
    std::unique_ptr<nlohmann::json> value_;  // null: the empty object
};

}  // namespace ostrel::model
