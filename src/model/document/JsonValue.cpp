#include "model/document/JsonValue.h"

#include <nlohmann/json.hpp>

namespace ostrel::model {

namespace {

const nlohmann::json& emptyObject() {
    static const nlohmann::json empty = nlohmann::json::object();
    return empty;
}

std::unique_ptr<nlohmann::json> clone(const std::unique_ptr<nlohmann::json>& value) {
    return value ? std::make_unique<nlohmann::json>(*value) : nullptr;
}

}  // namespace

JsonValue::JsonValue() noexcept = default;

JsonValue::JsonValue(nlohmann::json value) {
    if (!(value.is_object() && value.empty())) value_ = std::make_unique<nlohmann::json>(std::move(value));
}

JsonValue::JsonValue(const JsonValue& other)
    : value_(clone(other.value_)) {}

JsonValue::JsonValue(JsonValue&& other) noexcept = default;

JsonValue& JsonValue::operator=(const JsonValue& other) {
    if (this != &other) value_ = clone(other.value_);
    return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept = default;

JsonValue::~JsonValue() = default;

const nlohmann::json& JsonValue::get() const {
    return value_ ? *value_ : emptyObject();
}

bool JsonValue::isObject() const {
    return !value_ || value_->is_object();
}

bool JsonValue::isEmptyObject() const {
    return !value_ || (value_->is_object() && value_->empty());
}

bool operator==(const JsonValue& a, const JsonValue& b) {
    if (!a.value_ && !b.value_) return true;
    return a.get() == b.get();
}

}  // namespace ostrel::model
