// Reading and writing a large painting through the message text files, beside protobuf's bare
// text format on the same bytes in memory: what the file handling (and the synced, renamed
// write) costs on top of the formatting itself.
#include <benchmark/benchmark.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/text_format.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "core/ids.h"
#include "core/text_file.h"
#include "quillax.pb.h"

namespace {

// 2,000 strokes of 100 points, as a long session leaves them.
const quillax::Painting& painting() {
  static const quillax::Painting s_painting = [] {
    quillax::Painting p;
    for (int s = 0; s < 2000; ++s) {
      quillax::Operation* op = p.add_operations();
      for (int i = 0; i < 100; ++i) {
        const float t = s * 0.013f + i * 0.012f;
        quillax::Operation_Point* point = op->add_points();
        point->set_x(0.1f * std::cos(t));
        point->set_y(1.6f - i * 0.012f);
        point->set_z(0.1f * std::sin(t));
        quillax::Operation_Point* pitch = op->add_pitches();
        pitch->set_x(-std::sin(t));
        pitch->set_y(0.0f);
        pitch->set_z(std::cos(t));
        quillax::Operation_Point* normal = op->add_normals();
        normal->set_x(std::cos(t));
        normal->set_y(0.01f * i);
        normal->set_z(std::sin(t));
      }
      quillax::Color* color = op->mutable_color();
      color->set_red(0.8f);
      color->set_green(0.9f);
      color->set_blue(0.8f);
      color->set_lightness(1.0f);
      for (int k = 0; k < 30; ++k) op->mutable_lightcurve()->add_v(k / 29.0f);
      op->set_texture(HAIR_TEXTURE_MIDDLE);
      op->set_width(0.02f);
      op->set_unique_id(2107131200000000LL + s);
      op->set_flags(7);
    }
    return p;
  }();
  return s_painting;
}

const std::string& paintingText() {
  static const std::string s_text = [] {
    std::string text;
    google::protobuf::TextFormat::PrintToString(painting(), &text);
    return text;
  }();
  return s_text;
}

std::string benchPath() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp ? tmp : "/tmp") + "/tresslet_bench_painting_" + std::to_string(getpid()) +
         ".txt";
}

void BM_WriteProtoToTextFile(benchmark::State& state) {
  const std::string path = benchPath();
  for (auto _ : state) {
    if (!WriteProtoToTextFile(painting(), path.c_str())) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(state.iterations() * paintingText().size());
  unlink(path.c_str());
}

void BM_TextFormatPrintToString(benchmark::State& state) {
  for (auto _ : state) {
    std::string text;
    google::protobuf::TextFormat::PrintToString(painting(), &text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * paintingText().size());
}

void BM_ReadProtoFromTextFile(benchmark::State& state) {
  const std::string path = benchPath();
  WriteProtoToTextFile(painting(), path.c_str());
  for (auto _ : state) {
    quillax::Painting back;
    if (!ReadProtoFromTextFile(path.c_str(), &back)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(back.operations_size());
  }
  state.SetBytesProcessed(state.iterations() * paintingText().size());
  unlink(path.c_str());
}

void BM_TextFormatParse(benchmark::State& state) {
  const std::string& text = paintingText();
  for (auto _ : state) {
    quillax::Painting back;
    google::protobuf::io::ArrayInputStream input(text.data(), static_cast<int>(text.size()));
    if (!google::protobuf::TextFormat::Parse(&input, &back)) {
      state.SkipWithError("parse failed");
    }
    benchmark::DoNotOptimize(back.operations_size());
  }
  state.SetBytesProcessed(state.iterations() * text.size());
}

}  // namespace

BENCHMARK(BM_WriteProtoToTextFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextFormatPrintToString)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadProtoFromTextFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextFormatParse)->Unit(benchmark::kMillisecond);
