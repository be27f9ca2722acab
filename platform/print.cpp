#include "platform/print.h"

#include <cstdarg>
#include <string>

namespace platform {

void printWhole(std::FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list sizing;
  va_copy(sizing, args);
  const int size = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  if (size > 0) {
    std::string text(static_cast<size_t>(size) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    std::fwrite(text.data(), 1, static_cast<size_t>(size), stream);
  }
  va_end(args);
}

}  // namespace platform
