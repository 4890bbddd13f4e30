// The exception that the GenICam libraries throw: a description together with where it was raised and the
// name of its type, so that a catcher can report all three.
#pragma once

#include <exception>
#include <string>

namespace GenICam {

class GenericException : public std::exception {
public:
    GenericException(std::string description, std::string source_file, unsigned int source_line,
                     std::string exception_type = "GenericException");

    // what() answers the description alone: that is the text the producer's records quote.
    const char* what() const noexcept override { return description_.c_str(); }
    const char* GetDescription() const noexcept { return description_.c_str(); }
    const char* GetSourceFileName() const noexcept { return source_file_.c_str(); }
    unsigned int GetSourceLine() const noexcept { return source_line_; }
    const char* GetExceptionType() const noexcept { return exception_type_.c_str(); }

private:
    std::string description_;
    std::string source_file_;
    unsigned int source_line_;
    std::string exception_type_;
};

}  // namespace GenICam
