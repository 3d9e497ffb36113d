#pragma once

#include <string_view>

namespace ostrel::model {

// The strict UTF-8 of the JSON library's dump: no overlong forms, no surrogates, nothing
// above U+10FFFF, no sequence cut short. The empty text is valid.
bool isValidUtf8(std::string_view text);

}  // namespace ostrel::model
