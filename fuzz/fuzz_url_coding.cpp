// URL encoding and decoding of arbitrary bytes: decoding what was encoded gives the bytes back, an encoded
// text holds only unreserved and path characters and escapes, and decoding arbitrary text never reads past its end.
#include "gcbase/UrlCoding.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string encoded = GenICam::UrlEncode(text);
    for (size_t i = 0; i < encoded.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(encoded[i]);
        if (c == '%') {
            if (i + 2 >= encoded.size()) {
                std::abort();  // an escape needs two digits after it
            }
            if (!std::isxdigit(static_cast<unsigned char>(encoded[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(encoded[i + 2]))) {
                std::abort();
            }
            i += 2;
        } else if (!std::isalnum(c) && std::string_view("-._~/:").find(static_cast<char>(c)) == std::string_view::npos) {
            std::abort();  // only unreserved and path characters go out unescaped
        }
    }
    if (GenICam::UrlDecode(encoded) != text) {
        std::abort();
    }

    const std::string decoded = GenICam::UrlDecode(text);
    if (decoded.size() > text.size()) {
        std::abort();  // decoding only ever shortens
    }
    return 0;
}
