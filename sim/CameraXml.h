// The simulated CoaXPress camera's GenApi XML (sim/camera/VantrelSimCamCXP.xml) and the same file zipped,
// both compiled into the library at build time (sim/camera/EmbedCameraXml.cmake). The bytes live as long as
// the library.
#pragma once

#include <span>

namespace vnsim {

class CameraXml {
public:
    static std::span<const unsigned char> xml();
    // A ZIP archive with one entry, the XML under its own file name.
    static std::span<const unsigned char> zip();
};

}  // namespace vnsim
