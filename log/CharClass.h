// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

// Words end where Qt's text views end them, at a run of punctuation or of spaces, with one
// exception: '-' belongs to words, so that a negative tick ("-2147483648"), a host name or a
// date is one word to a double-click, to Ctrl+arrows and to assistive technology alike.
enum class CharClass { Space, Separator, Word };

inline CharClass classOf(char c)
{
    constexpr std::string_view kSeparators = ".,?!@#$:;<>[](){}=/+%&^*'\"`~|\\";
    if (c == ' ' || c == '\t')
        return CharClass::Space;
    return kSeparators.find(c) == std::string_view::npos ? CharClass::Word : CharClass::Separator;
}
