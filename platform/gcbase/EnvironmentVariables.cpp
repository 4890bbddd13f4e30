#include "gcbase/EnvironmentVariables.h"

#include <cstdlib>

namespace GenICam {

bool DoesEnvironmentVariableExist(const std::string& name)
{
    return !name.empty() && std::getenv(name.c_str()) != nullptr;
}

std::string ReplaceEnvironmentVariables(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t start = text.find("$(", position);
        if (start == std::string::npos) {
            break;
        }
        const size_t end = text.find(')', start + 2);
        if (end == std::string::npos) {
            break;
        }
        result.append(text, position, start - position);
        const std::string name = text.substr(start + 2, end - start - 2);
        if (const char* value = name.empty() ? nullptr : std::getenv(name.c_str())) {
            result += value;
        }
        position = end + 1;
    }
    result.append(text, position, std::string::npos);
    return result;
}

}  // namespace GenICam
