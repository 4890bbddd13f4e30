// A private XML cache directory for one fuzz process, named by GENICAM_CACHE_V2_4 and emptied between inputs.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace vngtl_fuzz {

inline const std::filesystem::path& cache_directory()
{
    static const std::filesystem::path directory = [] {
        auto path = std::filesystem::temp_directory_path() / ("vngtl-fuzz-cache-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        ::setenv("GENICAM_CACHE_V2_4", path.c_str(), 1);
        std::atexit([] { std::error_code ignored; std::filesystem::remove_all(cache_directory(), ignored); });
        return path;
    }();
    return directory;
}

inline void empty_cache_directory()
{
    for (const auto& entry : std::filesystem::directory_iterator(cache_directory())) {
        std::filesystem::remove_all(entry.path());
    }
}

// The names of the files in the cache directory, sorted.
inline std::string cache_listing()
{
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(cache_directory())) {
        names += entry.path().filename().string() + "\n";
    }
    return names;
}

}  // namespace vngtl_fuzz
