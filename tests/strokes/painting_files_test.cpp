#include "strokes/painting_files.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "strokes/buffer_undoer.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"
#include "strokes/transformer.h"
#include "support/asset_root.h"

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

using Strings = std::vector<std::string>;

class PaintingFilesTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    m_state.set();
  }
  void TearDown() override {
    m_state.restore();
    AssetRootTest::TearDown();
  }
  // Strokes pushed into m_history as a tool would leave them.
  Operatable* add(Operatable* stroke) {
    m_history.push(stroke, false);
    return stroke;
  }
  std::vector<Operatable*> entries() const { return m_history.m_history; }
  // The OBJ text fprintf writes for the same strokes, built from the same geometry.
  static std::string printfObj(const std::vector<Operatable*>& strokes) {
    std::string out;
    char line[512];
    const bool flags[7] = {true, true, true, false, false, true, false};
    uint32_t base = 0;
    for (size_t i = 0; i < strokes.size(); ++i) {
      const Operatable* s = strokes[i];
      if (!s->isVisible() || s->isRemoved() || !isRibbonTexture(s->m_operation->texture())) continue;
      std::snprintf(line, sizeof line, "g stroke_%d_type%d\n", static_cast<int>(i), s->m_operation->texture());
      out += line;
      std::vector<float> v;
      const int floats = s->buildStrandGeometry(v, 0, ~0u, flags);
      const Matrix4* inverse = levelInverse(s->m_transformLevel);
      for (int k = 0; k < floats; k += 11) {
        Vec3f p(v[k], v[k + 1], v[k + 2]), n(v[k + 5], v[k + 6], v[k + 7]);
        if (inverse) {
          p = transformPoint(*inverse, p);
          n = transformDirection(*inverse, n);
        }
        if (length(n) != 0.0) n = normalized(n);
        std::snprintf(line, sizeof line, "v %f %f %f %f %f %f\nvn %f %f %f\nvt %f %f\n", p[0], p[1], p[2],
                      v[k + 8], v[k + 9], v[k + 10], n[0], n[1], n[2], v[k + 3], v[k + 4]);
        out += line;
      }
      std::vector<uint32_t> q;
      const int count = s->fillIndexBuffer(q, 0, ~0u, base + 1, true);
      for (int k = 0; k < count; k += 4) {
        std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d %d/%d/%d\n", q[k], q[k], q[k], q[k + 1],
                      q[k + 1], q[k + 1], q[k + 2], q[k + 2], q[k + 2], q[k + 3], q[k + 3], q[k + 3]);
        out += line;
      }
      base += static_cast<uint32_t>(floats / 11);
    }
    return out;
  }
  static Strings groups(const std::string& obj) {
    Strings out;
    std::istringstream in(obj);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("g ", 0) == 0) out.push_back(line.substr(2));
    return out;
  }

  KnownBrushState m_state;
  BufferUndoer m_history;
};

}  // namespace

TEST(PaintingNames, RunFolderAndFileBaseTakeTheLoadedFileAsPrefix) {
  const Strings loaded = {"", "x/123_456/789_012.txt", "plain.txt", "/top.txt", "a.b/noext", "x/y/.txt", "d//f.txt"};
  Strings folders, bases;
  for (const std::string& file : loaded) {
    folders.push_back(runFolderName(7, file));
    bases.push_back(paintingBaseName(9, file));
  }
  EXPECT_EQ(folders, (Strings{"7", "123_456_7", "7", "7", "a.b_7", "y_7", "7"}));
  EXPECT_EQ(bases, (Strings{"9", "789_012_9", "plain_9", "top_9", "9", "9", "f_9"}));
}

TEST_F(PaintingFilesTest, StoredWorkIsTheVisibleEntriesUpToTheCursor) {
  StrokeStore own;
  add(makeStroke(1, 0, 3, 0.0f));
  add(makeStroke(1, 0, 3, 1.0f))->setVisible(false);
  add(makeStroke(1, 0, 3, 2.0f))->setRemoved(true);
  add(makeStroke(0, 0, 3, 3.0f));
  add(makeStroke(1, 0, 3, 4.0f));
  m_history.undo();
  quillax::Painting painting;
  storeOperations(m_history, &painting);
  std::vector<float> xs;
  for (const quillax::Operation& op : painting.operations()) xs.push_back(op.points(0).x());
  EXPECT_EQ(xs, (std::vector<float>{0.0f, 3.0f}));
}

TEST_F(PaintingFilesTest, ObjIsPrintfTextOfTheVisibleRibbonsWithRunningIndices) {
  // Widths of 0 put the ribbon on the points themselves, so the numbers include printf's hard
  // cases: ties at the sixth decimal, negative values that round to zero, a float near its top.
  Operatable* first = add(makeStroke(1, 0, 5));
  const float hard[] = {0.0078125f, -0.0078125f, 1e-7f, -1e-7f, 3.4e38f, 2.5f, -1234.5678f};
  for (int i = 0; i < 5; ++i) {
    quillax::Operation_Point* p = first->m_operation->mutable_points(i);
    p->set_x(hard[i]);
    p->set_z(hard[i + 2]);
  }
  first->m_operation->set_width(0.0f);
  add(makeStroke(1, 0, 4, 1.0f))->setVisible(false);
  add(makeStroke(2, 3, 10, 2.0f));
  add(makeStroke(0, 0, 6, 3.0f));  // a pen stroke is in the painting only
  add(makeStroke(1, 0, 3, 4.0f))->setRemoved(true);

  ASSERT_TRUE(writeStrokesObj(entries(), rootPath("p.obj")));
  const std::string obj = readFile("p.obj");
  EXPECT_EQ(obj, printfObj(entries()));
  EXPECT_EQ(groups(obj), (Strings{"stroke_0_type1", "stroke_2_type2"}));
  // The second exported stroke's first face starts after the first stroke's 10 vertices.
  EXPECT_NE(obj.find("\nf 11/11/11 "), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(root()), fs::directory_iterator()), 2);  // run/, p.obj
}

TEST_F(PaintingFilesTest, ObjTakesStrokesOfALevelBackThroughItsInverse) {
  Transformer transformer;
  setTransformer(&transformer);
  Matrix4 placement;
  const float scale[3] = {2.0f, 2.0f, 2.0f}, move[3] = {0.1f, 1.5f, -0.2f}, turn[3] = {0.3f, 0.0f, 0.2f};
  transformMatrix4(placement, scale, move, turn);
  transformer.pushTransform(placement);
  StrokeStore own;
  add(makeStroke(1, 2, 4))->m_transformLevel = 1;
  add(makeStroke(1, 0, 3, 1.0f));
  ASSERT_TRUE(writeStrokesObj(entries(), rootPath("p.obj")));
  const std::string obj = readFile("p.obj");
  EXPECT_EQ(obj, printfObj(entries()));
  setTransformer(nullptr);
  EXPECT_NE(obj, printfObj(entries()));  // the level-1 stroke did move back
}

TEST_F(PaintingFilesTest, ObjWriteThatFailsAtAnyByteKeepsTheOlderFile) {
  StrokeStore own;
  add(makeStroke(1, 0, 3));
  ASSERT_TRUE(writeStrokesObj(entries(), rootPath("p.obj")));
  const std::string older = readFile("p.obj");
  add(makeStroke(1, 2, 4, 1.0f));
  const std::string newer = printfObj(entries());
  const std::string failure = "Failed to open file [ " + rootPath("p.obj") + " ] for write.\n";

  // A file-size limit in a child stands in for a disk that fills at byte k.
  std::vector<size_t> cuts = {0, 1, older.size(), newer.size() - 1, newer.size()};
  for (size_t k = 2; k < newer.size(); k += 61) cuts.push_back(k);
  std::sort(cuts.begin(), cuts.end());  // the whole write comes last
  for (size_t k : cuts) {
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const struct rlimit limit = {k, k};
      setrlimit(RLIMIT_FSIZE, &limit);
      dup2(errors[1], 2);
      _exit(writeStrokesObj(entries(), rootPath("p.obj")) ? 1 : 0);
    }
    close(errors[1]);
    char text[512] = {};
    const ssize_t got = read(errors[0], text, sizeof text - 1);
    close(errors[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << k;
    const bool fits = k >= newer.size();
    EXPECT_EQ(WEXITSTATUS(status), fits ? 1 : 0) << k;
    EXPECT_EQ(readFile("p.obj"), fits ? newer : older) << k;
    EXPECT_EQ(std::string(text, got > 0 ? got : 0), fits ? "" : failure) << k;
    EXPECT_EQ(std::distance(fs::directory_iterator(root()), fs::directory_iterator()), 2) << k;
  }

  // A folder that does not exist, and a target that is a folder.
  fs::create_directories(rootPath("box"));
  for (const std::string& target : {rootPath("none/p.obj"), rootPath("box")}) {
    CaptureStderr();
    EXPECT_FALSE(writeStrokesObj(entries(), target));
    EXPECT_EQ(GetCapturedStderr(), "Failed to open file [ " + target + " ] for write.\n");
  }
  EXPECT_TRUE(fs::is_empty(rootPath("box")));
}

TEST_F(PaintingFilesTest, ParsedStrokesAreOwnedUnmarkedAndOptionallyRecoloured) {
  StrokeStore own;
  Operatable* stroke = add(makeStroke(1, 0, 3));
  quillax::Painting painting;
  storeOperations(m_history, &painting);
  painting.mutable_operations(0)->set_flags(0x2 | 0x4 | 0x1);  // selected, marked, not owned
  painting.mutable_operations(0)->mutable_color()->set_alpha(0.5f);
  painting.set_hair_class(2);
  std::string text;
  google::protobuf::TextFormat::PrintToString(painting, &text);

  g_currentColor.set_red(0.5f);
  g_currentColor.set_green(0.25f);
  g_currentColor.set_alpha(0.5f);
  PaintingStrokes read;
  ASSERT_TRUE(parsePaintingStrokes(text, true, &read));
  ASSERT_EQ(read.strokes.size(), 1u);
  const Operatable& back = *read.strokes[0];
  EXPECT_EQ(back.m_flags, 0x1 | 0x10);
  EXPECT_EQ(back.m_operation->color().ShortDebugString(), "red: 0.25 green: 0.125 blue: 0 alpha: 1 lightness: 1");
  EXPECT_FALSE(read.cutShort);

  ASSERT_TRUE(parsePaintingStrokes(text, false, &read));
  EXPECT_EQ(read.strokes[0]->m_operation->color().alpha(), 0.5f);
  EXPECT_EQ(read.strokes[0]->m_operation->points_size(), stroke->pointCount());
}

TEST_F(PaintingFilesTest, EveryCutOfAPaintingFailsOrReadsWholeStrokes) {
  StrokeStore own;
  for (int i = 0; i < 5; ++i) add(makeStroke(1 + i % 3, i - 2, 3 + i, 0.1f * i));
  quillax::Painting painting;
  storeOperations(m_history, &painting);
  painting.set_head("models/h.obj");
  painting.set_hair_class(4);
  std::string text;
  google::protobuf::TextFormat::PrintToString(painting, &text);

  google::protobuf::LogSilencer quiet;
  int parsed = 0;
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    PaintingStrokes read;
    CaptureStdout();
    const bool ok = parsePaintingStrokes(text.substr(0, cut), false, &read);
    GetCapturedStdout();
    if (!ok) {
      EXPECT_TRUE(read.strokes.empty()) << cut;
      continue;
    }
    ++parsed;
    ASSERT_LE(read.strokes.size(), 5u) << cut;
    for (size_t i = 0; i < read.strokes.size(); ++i)
      EXPECT_EQ(read.strokes[i]->m_operation->points_size(), painting.operations(static_cast<int>(i)).points_size())
          << cut;
    EXPECT_EQ(read.cutShort, cut < text.size() - 1) << cut;  // the last cut drops only the line end
  }
  EXPECT_GE(parsed, 6);  // the cuts between operations, at least
}
