#include "platform/image_file.h"

#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace platform {

bool writeBottomUpImage(const std::string& path, int width, int height, const unsigned char* bgr,
                        const std::string& label) {
  if (width <= 0 || height <= 0 || !bgr) return false;
  // The header only wraps the caller's pixels; the flip makes the one copy.
  const cv::Mat bottomUp(height, width, CV_8UC3, const_cast<unsigned char*>(bgr));
  cv::Mat topDown;
  cv::flip(bottomUp, topDown, 0);
  try {
    return cv::imwrite(path, topDown);
  } catch (const cv::Exception& e) {
    std::printf("%s: %s\n", label.c_str(), e.what());
  }
  return false;
}

}  // namespace platform
