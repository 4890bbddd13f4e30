#include "gcbase/UrlCoding.h"

namespace GenICam {

namespace {

bool kept_unencoded(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/' || c == ':';
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string UrlEncode(const std::string& text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (kept_unencoded(c)) {
            result += ch;
        } else {
            result += '%';
            result += digits[c >> 4];
            result += digits[c & 0xF];
        }
    }
    return result;
}

std::string UrlDecode(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hex_digit(text[i + 1]);
            const int low = hex_digit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                result += static_cast<char>((high << 4) | low);
                i += 2;
                continue;
            }
        }
        result += text[i];
    }
    return result;
}

}  // namespace GenICam
