#pragma once
#include <iostream>
#include <sstream>

// Prints the parts and a line end on standard output as one piece of text with one `<<` (one
// write on the unbuffered console), so a line that another thread prints at the same moment lands
// before or after it and never inside it. Parts are anything a stream takes, manipulators too.
template <typename... Parts>
void coutLine(const Parts&... parts) {
  std::ostringstream line;
  (line << ... << parts);
  line << '\n';
  std::cout << line.str() << std::flush;
}
