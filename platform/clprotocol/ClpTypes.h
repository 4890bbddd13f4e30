// Types shared by our CLProtocol stand-in and its users: the Camera Link integer types (the same typedefs
// as the serial library's header, so both may be included), GenICam's string types and GenApi's access
// modes, and the Camera Link and CLProtocol codes the stand-in answers with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef int CLINT32;
typedef unsigned int CLUINT32;
typedef char CLINT8;
typedef int64_t CLINT64;
typedef char BOOL8;

namespace GenICam {
using gcstring = std::string;
using gcstring_vector = std::vector<gcstring>;
}  // namespace GenICam

namespace GenApi {
enum EAccessMode { NI = 0, NA = 1, WO = 2, RO = 3, RW = 4 };
}  // namespace GenApi

namespace CLProtocol {

// Camera Link serial codes.
inline constexpr CLINT32 cl_err_no_err = 0;
inline constexpr CLINT32 cl_err_buffer_too_small = -10001;
inline constexpr CLINT32 cl_err_port_in_use = -10003;
inline constexpr CLINT32 cl_err_timeout = -10004;
inline constexpr CLINT32 cl_err_invalid_reference = -10006;
// CLProtocol codes.
inline constexpr CLINT32 cl_err_invalid_deviceid = -20100;
inline constexpr CLINT32 cl_err_no_device_found = -20101;
inline constexpr CLINT32 cl_err_no_xmldescription_found = -20102;
inline constexpr CLINT32 cl_err_param_data_value = -20108;
// The driver's own (a GenCP status the camera answered with).
inline constexpr CLINT32 cl_err_device_status = -30001;

}  // namespace CLProtocol
