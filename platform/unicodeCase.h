#pragma once

#include <string>
#include <string_view>

namespace platform {

// Names compared as Wine compares registry key and value names: each UTF-16 code unit is mapped to its
// simple Unicode lower case (the Unicode data through ICU, for every script; the halves of a pair outside
// the basic plane stay as they are, as Wine leaves them), and names are ordered by those units, as the
// files Wine writes show ("_underscore" before "alpha", "GB_2312-80" before "GBK").
//
// The result is a comparison key, no text to show: two names are the same name exactly when their keys are
// equal, and comparing keys byte by byte orders names as Wine orders siblings (by the folded units, a
// shorter name before a longer one that begins with it). Each unit takes one to three bytes, so an ASCII
// name keeps its length. Bytes that are not UTF-8 stand for themselves, each as a unit of its own that no
// text can give, so that two different invalid names never compare equal.
std::string WineCaseKey(std::string_view utf8);

} // namespace platform
