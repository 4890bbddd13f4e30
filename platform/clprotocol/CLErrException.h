// The exception of the CLProtocol library: a GenICam exception that carries the Camera Link or CLProtocol
// code of the failure.
#pragma once

#include "clprotocol/ClpTypes.h"
#include "gcbase/GenericException.h"

namespace CLProtocol {

class CLErrException : public GenICam::GenericException {
public:
    CLErrException(CLINT32 code, std::string description, std::string source_file, unsigned int source_line);
    CLINT32 GetErrorCode() const noexcept { return code_; }

private:
    CLINT32 code_;
};

}  // namespace CLProtocol
