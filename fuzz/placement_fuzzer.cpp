// "headTransform.txt": the head's placement. Whatever the file holds, the head is placed by a
// finite matrix, and a file that is there is never written over.
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "fuzz_support.h"
#include "render/grider.h"
#include "render/head_model.h"

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = writeFuzzFile("headTransform.txt", data, size);
  // A head with a mesh box only: all the placement needs, no GL.
  HeadModel head("head.txt");
  BoundingBox* box = new BoundingBox("box");
  box->widen(Vec3f(-0.1f, -0.12f, -0.1f));
  box->widen(Vec3f(0.1f, 0.12f, 0.11f));
  head.setAttached(box);
  Matrix4 placement;
  FUZZ_REQUIRE(head.loadPlacement(placement, path));
  for (int i = 0; i < 16; ++i) FUZZ_REQUIRE(std::isfinite(placement[i]));
  const std::string after = contents(path);
  FUZZ_REQUIRE(after.size() == size && std::memcmp(after.data(), data, size) == 0);
  return 0;
}
