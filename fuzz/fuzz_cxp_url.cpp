// The CoaXPress manifest URL grammar: the cache file name a URL names, the delimiters and numbers of a
// "local:" URL and the host path of a "file:" URL, for arbitrary text. A file name must stay a bare name
// inside the cache directory: no separators, no terminator, and one of the two extensions.
#include "fuzz/QuietRecords.h"
#include "remote/VNCxpBootstrap.h"
#include "remote/VNCxpXmlCacheInterface.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

using vngtl::VNCxpBootstrap;

namespace {

bool ends_with_extension(const std::string& name)
{
    if (name.size() < 4) {
        return false;
    }
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == ".xml" || tail == ".zip";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string url(reinterpret_cast<const char*>(data), size);

    const std::string name = VNCxpBootstrap::UrlFileName(url);
    if (!name.empty() && (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
                          !ends_with_extension(name))) {
        std::abort();
    }

    VNCxpBootstrap::Positions at;
    if (VNCxpBootstrap::LocalUrlDelimiters(url, at)) {
        if (!(at.name_end_colon < at.first_semicolon && at.first_semicolon < at.address_end &&
              at.address_end < at.length_end && at.length_end <= url.size() && url[at.name_end_colon] == ':' &&
              url[at.first_semicolon] == ';' && url[at.address_end] == ';')) {
            std::abort();
        }
    }
    uint64_t address = 0;
    uint64_t length = 0;
    VNCxpBootstrap::LocalUrlAddressAndLength(url, address, length);

    vngtl::VNCxpXmlCacheInterface::file_url_path(url);
    return 0;
}
