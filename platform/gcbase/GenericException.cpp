#include "gcbase/GenericException.h"

#include <utility>

namespace GenICam {

GenericException::GenericException(std::string description, std::string source_file,
                                   unsigned int source_line, std::string exception_type)
    : description_(std::move(description)),
      source_file_(std::move(source_file)),
      source_line_(source_line),
      exception_type_(std::move(exception_type)) {}

}  // namespace GenICam
