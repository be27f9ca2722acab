#pragma once
#include <cstdio>

namespace platform {

// Formats as printf does, then hands the whole text to the stream in one call (one write on an
// unbuffered stream), so a line that another thread prints at the same moment, on this stream or
// the other one, lands before or after it and never inside it. The text carries its own "\n".
void printWhole(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace platform
