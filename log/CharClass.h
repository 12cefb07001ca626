// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

// Word moves and the word units assistive technology reads stop where Qt's text views stop: a
// run of letters and digits, or a run of punctuation, and the spaces between them.
enum class CharClass { Space, Separator, Word };

inline CharClass classOf(char c)
{
    constexpr std::string_view kSeparators = ".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\";
    if (c == ' ' || c == '\t')
        return CharClass::Space;
    return kSeparators.find(c) == std::string_view::npos ? CharClass::Word : CharClass::Separator;
}
