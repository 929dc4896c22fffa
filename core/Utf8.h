// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zolt {

// Reads the UTF-8 character at `pos` and advances past it. A byte that does
// not start a well-formed sequence (truncated, overlong, a stray continuation
// byte, a surrogate or a value past U+10FFFF) is consumed alone and gives
// nothing, so that every caller decides for itself what bad input reads as.
std::optional<char32_t> nextUtf8(std::string_view text, std::size_t& pos);

void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace zolt
