// Listing the files of a directory that match a wildcard pattern, as the GenICam base library offers it.
#pragma once

#include <string>
#include <vector>

namespace GenICam {

// The full paths of the entries of one directory whose names match `pattern`, in which "*" stands for any
// run of characters (none included) and "?" for any one character; every other character matches itself,
// case kept. `pattern` is a path: its directory part names the directory to list (the current directory
// when it has none) and only its last component holds wildcards. Directories are listed only when
// `include_directories` is true. The result is sorted; a directory that cannot be read gives an empty list.
std::vector<std::string> GetFiles(const std::string& pattern, bool include_directories = false);

// Whether `name` matches the wildcard `pattern` as GetFiles matches them.
bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace GenICam
