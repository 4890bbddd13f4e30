#include "gcbase/FileListing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace GenICam {

bool WildcardMatch(const std::string& pattern, const std::string& name)
{
    // Greedy matching with one back-tracking point, the last "*" seen: linear in practice and never
    // recursive, so long names cannot exhaust the stack.
    size_t p = 0;
    size_t n = 0;
    size_t star = std::string::npos;
    size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> GetFiles(const std::string& pattern, bool include_directories)
{
    namespace fs = std::filesystem;
    const fs::path full(pattern);
    const std::string name_pattern = full.filename().string();
    const fs::path directory = full.has_parent_path() ? full.parent_path() : fs::path(".");
    std::vector<std::string> found;
    std::error_code error;
    fs::directory_iterator it(directory, error);
    if (error) {
        return found;
    }
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) {
            break;
        }
        const bool is_directory = it->is_directory(error);
        if (is_directory && !include_directories) {
            continue;
        }
        if (WildcardMatch(name_pattern, it->path().filename().string())) {
            found.push_back(it->path().string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace GenICam
