#pragma once

#include <string_view>

namespace ostrel::core {

// The strict UTF-8 of the JSON library's dump: no overlong forms, no surrogates, nothing
// above U+10FFFF, no sequence cut short. The empty text is valid.
bool isValidUtf8(std::string_view text);

// True when the arrays and objects of a JSON text nest no deeper than limit. Counts the
// brackets outside strings in one pass, so a reader can refuse a text that would make a
// recursive parser or writer run out of stack before it parses at all. Says nothing else
// of the text's validity.
bool nestingWithin(std::string_view text, int limit);

}  // namespace ostrel::core
