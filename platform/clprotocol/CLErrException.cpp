#include "clprotocol/CLErrException.h"

#include <utility>

namespace CLProtocol {

CLErrException::CLErrException(CLINT32 code, std::string description, std::string source_file,
                               unsigned int source_line)
    : GenericException(std::move(description), std::move(source_file), source_line, "CLErrException"), code_(code)
{
}

}  // namespace CLProtocol
