// Percent-encoding of URL texts as the GenICam base library offers it.
#pragma once

#include <string>

namespace GenICam {

// Every byte outside the letters, digits, "-._~" and the path characters "/" and ":" becomes "%" and two
// upper-case hexadecimal digits. Keeping "/" and ":" lets an encoded path stay a path ("file:///C:/a%20b").
std::string UrlEncode(const std::string& text);

// Every "%" followed by two hexadecimal digits (either case) becomes the byte they give; any other "%" and
// every other character (a "+" too) stays as it is.
std::string UrlDecode(const std::string& text);

}  // namespace GenICam
