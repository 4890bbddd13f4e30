// Environment variables as the GenICam base library offers them: whether one is set, and the expansion of
// "$(NAME)" references in a text (how the XML cache finds its directory from GENICAM_CACHE_V2_4).
#pragma once

#include <string>

namespace GenICam {

// True when the process environment holds a variable of that name (an empty value counts as set).
bool DoesEnvironmentVariableExist(const std::string& name);

// Every "$(NAME)" in `text` replaced by the value of the environment variable NAME; a variable that is not
// set expands to nothing. A "$(" without its closing ")" and a "$" not followed by "(" stay as they are.
// Expansion is a single pass: values are not searched for further references.
std::string ReplaceEnvironmentVariables(const std::string& text);

}  // namespace GenICam
