// Extraction of arbitrary bytes as a cached ZIP archive. Success leaves exactly the archive and the extracted
// ".xml" beside it; failure leaves the archive alone (no partial ".xml").
#include "fuzz/FuzzCacheDirectory.h"
#include "fuzz/QuietRecords.h"
#include "remote/VNCxpXmlCacheInterface.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    vngtl_fuzz::cache_directory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vngtl_fuzz::empty_cache_directory();
    const auto zip = vngtl_fuzz::cache_directory() / "camera.zip";
    {
        std::ofstream out(zip, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const vngtl::VNCxpXmlCacheInterface cache;
    const bool extracted = cache.doUnzip(zip.string());
    const std::string listing = vngtl_fuzz::cache_listing();
    const bool only_zip = listing == "camera.zip\n";
    const bool both = listing == "camera.xml\ncamera.zip\n" || listing == "camera.zip\ncamera.xml\n";
    if (extracted ? !both : !only_zip) {
        std::abort();
    }
    return 0;
}
