#pragma once
#include <string>

namespace platform {

// Writes width x height 8-bit BGR pixels to path, top row first (format by the path's
// extension). The pixels come bottom row first, as OpenGL reads them back, with rows packed
// tightly (3 * width bytes). A codec error is printed as "<label>: <reason>" instead of thrown.
// False when the image could not be written.
bool writeBottomUpImage(const std::string& path, int width, int height, const unsigned char* bgr,
                        const std::string& label);

}  // namespace platform
