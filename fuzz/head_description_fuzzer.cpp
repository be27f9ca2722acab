// The head description (a quillax.FaceTextureMaps): read, and the files it names looked up in
// its folder, where nothing else is. Whatever it holds, the load ends with false and a line.
#include "fuzz_support.h"
#include "render/head_model.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = writeFuzzFile("head.txt", data, size);
  HeadModel head(path);
  // No mesh stands beside it, so no load gets as far as the GL upload.
  FUZZ_REQUIRE(!head.load(path, 41));
  return 0;
}
