#include "strokes/painting_files.h"

#include <fcntl.h>
#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/events.h"
#include "core/text_file.h"
#include "platform/print.h"
#include "strokes/buffer_undoer.h"
#include "strokes/interactor.h"
#include "strokes/operator.h"
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

// Runs work in a child process whose files cannot grow past k bytes (a disk that fills at byte
// k) and returns its exit code, -1 when it did not exit; its standard error goes to *errors.
int underFileSizeLimit(size_t k, const std::function<int()>& work, std::string* errors = nullptr) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  std::fflush(nullptr);  // what this process holds unwritten is not the child's to write
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {k, k};
    setrlimit(RLIMIT_FSIZE, &limit);
    dup2(pipeEnds[1], 2);
    _exit(work());
  }
  close(pipeEnds[1]);
  std::string text;
  char piece[512];
  for (ssize_t got; (got = read(pipeEnds[0], piece, sizeof piece)) > 0;)
    text.append(piece, static_cast<size_t>(got));
  close(pipeEnds[0]);
  if (errors) *errors = text;
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs work in a child whose standard output and error are unbuffered, as the program's are, and
// go to a socket that keeps each write apart; returns the child's writes in order.
std::vector<std::string> writesOf(const std::function<void()>& work) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) != 0) return {};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    dup2(ends[1], 1);
    dup2(ends[1], 2);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    work();
    _exit(0);
  }
  close(ends[1]);
  std::vector<std::string> writes;
  std::vector<char> message(1 << 16);
  for (ssize_t got; (got = recv(ends[0], message.data(), message.size(), 0)) > 0;)
    writes.emplace_back(message.data(), static_cast<size_t>(got));
  close(ends[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return writes;
}

class PaintingFilesTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    m_state.set();
    g_parameters.set_asset_path(root());
    g_parameters.set_project_to_save("data/record");
    g_autosaves.Clear();
    clearEvents();
  }
  void TearDown() override {
    clearEvents();
    g_autosaves.Clear();
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
  static Strings drainEvents() {
    Strings out;
    while (EventRecord* e = popEvent()) {
      out.push_back(std::to_string(e->m_type) + " " + std::to_string(e->m_id) + " " + e->m_name);
      delete e;
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

TEST_F(PaintingFilesTest, ObjIsPrintfTextOfTheVisibleRibbonsWithRunningIndices) {
  Transformer transformer;
  setTransformer(&transformer);
  Matrix4 placement;
  const float scale[3] = {2.0f, 2.0f, 2.0f}, move[3] = {0.1f, 1.5f, -0.2f}, turn[3] = {0.3f, 0.0f, 0.2f};
  transformMatrix4(placement, scale, move, turn);
  transformer.pushTransform(placement);
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
  add(makeStroke(2, 3, 10, 2.0f))->m_transformLevel = 1;  // exported back through the level's inverse
  add(makeStroke(0, 0, 6, 3.0f));  // a pen stroke is in the painting only
  add(makeStroke(1, 0, 3, 4.0f))->setRemoved(true);

  ASSERT_TRUE(writeStrokesObj(entries(), rootPath("p.obj")));
  const std::string obj = readFile("p.obj");
  EXPECT_EQ(obj, printfObj(entries()));
  EXPECT_EQ(groups(obj), (Strings{"stroke_0_type1", "stroke_2_type2"}));
  // The second exported stroke's first face starts after the first stroke's 10 vertices.
  EXPECT_NE(obj.find("\nf 11/11/11 "), std::string::npos);
  setTransformer(nullptr);
  EXPECT_NE(obj, printfObj(entries()));  // the level-1 stroke did move back
}

TEST_F(PaintingFilesTest, ObjTextIsTheSameOnAnyNumberOfThreads) {
  StrokeStore own;
  // Enough vertices for several pieces, with skipped strokes between them.
  for (int i = 0; i < 30; ++i) {
    Operatable* stroke = add(makeStroke(1 + i % 3, i % 5 - 2, 300 + 7 * i, 0.01f * i));
    if (i % 7 == 3) stroke->setVisible(false);
  }
  Strings texts;
  for (unsigned threads : {1u, 2u, 5u}) {
    ASSERT_TRUE(writeStrokesObj(entries(), rootPath("p.obj"), threads)) << threads;
    texts.push_back(readFile("p.obj"));
  }
  EXPECT_EQ(texts, Strings(3, printfObj(entries())));
}

TEST_F(PaintingFilesTest, ObjWriteThatFailsAtAnyByteKeepsTheOlderFile) {
  StrokeStore own;
  add(makeStroke(1, 0, 3));
  ASSERT_TRUE(writeStrokesObj(entries(), rootPath("p.obj")));
  const std::string older = readFile("p.obj");
  add(makeStroke(1, 2, 4, 1.0f));
  const std::string newer = printfObj(entries());
  // The file opened: the line does not send the user looking for a path problem.
  const std::string failure = "File [ " + rootPath("p.obj") + " ] could not be written. (File too large)\n";

  // A file-size limit in a child stands in for a disk that fills at byte k.
  std::vector<size_t> cuts = {0, 1, older.size(), newer.size() - 1, newer.size()};
  for (size_t k = 2; k < newer.size(); k += 61) cuts.push_back(k);
  std::sort(cuts.begin(), cuts.end());  // the whole write comes last
  for (size_t k : cuts) {
    std::string errors;
    const int code = underFileSizeLimit(k, [&] { return writeStrokesObj(entries(), rootPath("p.obj")) ? 1 : 0; }, &errors);
    const bool fits = k >= newer.size();
    EXPECT_EQ(code, fits ? 1 : 0) << k;
    EXPECT_EQ(readFile("p.obj"), fits ? newer : older) << k;
    EXPECT_EQ(errors, fits ? "" : failure) << k;
    EXPECT_EQ(std::distance(fs::directory_iterator(root()), fs::directory_iterator()), 2) << k;
  }

  // Files that cannot be opened: in a folder that does not exist, and a folder in the way.
  fs::create_directories(rootPath("dir.obj"));
  for (const auto& [path, why] : {std::pair{"none/p.obj", ""}, std::pair{"dir.obj", " (Is a directory)"}}) {
    std::string reason = "unset";
    CaptureStderr();
    EXPECT_FALSE(writeObj(objStrokes(entries()), rootPath(path), 0, &reason));
    EXPECT_EQ(GetCapturedStderr(), "Failed to open file [ " + rootPath(path) + " ] for write." + why + "\n");
    EXPECT_EQ(reason, why);
  }
}

TEST_F(PaintingFilesTest, ParsedStrokesAreOwnedUnmarkedAndOptionallyRecoloured) {
  StrokeStore own;
  add(makeStroke(1, 0, 3));
  quillax::Painting painting;
  storeOperations(m_history, &painting);
  painting.mutable_operations(0)->set_flags(0x2 | 0x4 | 0x1);  // selected, marked, not owned
  painting.mutable_operations(0)->mutable_color()->set_alpha(0.5f);
  // Stored hidden and removed (no save writes such a stroke): it loads to be seen and saved.
  painting.add_operations()->CopyFrom(painting.operations(0));
  painting.mutable_operations(1)->set_flags(-1);
  painting.set_hair_class(2);
  std::string text;
  google::protobuf::TextFormat::PrintToString(painting, &text);

  g_currentColor.set_red(0.5f);
  g_currentColor.set_green(0.25f);
  g_currentColor.set_alpha(0.5f);
  PaintingStrokes read;
  ASSERT_TRUE(parsePaintingStrokes(text, true, &read));
  ASSERT_EQ(read.strokes.size(), 2u);
  const Operatable& back = *read.strokes[0];
  EXPECT_EQ(back.m_flags, 0x1 | 0x10);
  EXPECT_TRUE(read.strokes[1]->isVisible() && !read.strokes[1]->isRemoved() && !read.strokes[1]->isSelected());
  EXPECT_EQ(back.m_operation->color().ShortDebugString(), "red: 0.25 green: 0.125 blue: 0 alpha: 1 lightness: 1");

  ASSERT_TRUE(parsePaintingStrokes(text, false, &read));
  EXPECT_EQ(read.strokes[0]->m_operation->color().alpha(), 0.5f);
}

namespace {

// A tool controller whose tools have no buffers, saving under the test's asset root.
class OperatorFilesTest : public PaintingFilesTest {
 protected:
  void SetUp() override {
    PaintingFilesTest::SetUp();
    fs::create_directories(rootPath("data"));
    m_operator.createTools(false);
    setTransformer(dynamic_cast<Transformer*>(m_operator.getTool(6)));
  }
  void TearDown() override {
    m_operator.reset();  // nothing left for the destructor to save
    setTransformer(nullptr);
    PaintingFilesTest::TearDown();
  }
  Interactor& brush() { return *m_operator.getTool(1); }
  Operatable* draw(int points, float x = 0.0f, int texture = 1) {
    Operatable* stroke = makeStroke(texture, 0, points, x);
    brush().push(stroke, false);
    return stroke;
  }
  // Paths under the root, relative to it, of every file below `folder`, by name.
  Strings filesUnder(const std::string& folder) const {
    Strings out;
    if (!fs::exists(rootPath(folder))) return out;
    for (const auto& entry : fs::recursive_directory_iterator(rootPath(folder)))
      if (entry.is_regular_file()) out.push_back(entry.path().string().substr(root().size()));
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string run() const { return "data/record/" + std::to_string(m_operator.m_id); }
  std::string save(const std::string& name = std::string()) {
    CaptureStdout();
    CaptureStderr();
    const Operator::SaveResult result = m_operator.saveWork(name);
    const std::string out = GetCapturedStdout() + GetCapturedStderr();
    const char* names[] = {"saved", "nothing", "failed"};
    return names[static_cast<int>(result)] + (out.empty() ? "" : ": " + out);
  }

  Operator m_operator;
};

}  // namespace

// Another instance started in the same second wants the same run folder: the one that makes it
// first keeps it, and this run's saves and autosaves share a folder of their own.
TEST_F(OperatorFilesTest, SavesShareARunFolderThatNoOtherInstanceMade) {
  g_operator = &m_operator;
  EXPECT_EQ(save(), "nothing");
  EXPECT_FALSE(fs::exists(rootPath("data/record")));
  draw(3);
  // The autosave before any save of this run: the other instance makes the folder of the name
  // it names before the writer gets to it, and nothing of this run goes in there.
  PaintingSave early;
  CaptureStdout();
  const bool handedOver = m_operator.prepareAutosave(&early);
  writeFile(run() + "/theirs.txt", "theirs");
  if (handedOver) m_operator.writer().post(std::move(early));
  m_operator.waitForSaves();
  EXPECT_EQ(GetCapturedStdout(),
            "WriteProtoToTextFile " + rootPath(run() + "/autosaves.txt") + " not found!\n");
  draw(4, 1.0f);
  EXPECT_FALSE(Operator::autosave());
  ASSERT_EQ(save(), "saved");
  ASSERT_EQ(save(), "saved");
  EXPECT_TRUE(Operator::autosave());
  m_operator.waitForSaves();
  Strings ours, folders;
  for (const std::string& file : filesUnder("data/record"))
    if (file != run() + "/theirs.txt") ours.push_back(file);
  ASSERT_EQ(ours.size(), 5u);  // two paintings, two OBJs and the autosave
  for (const std::string& file : ours) folders.push_back(file.substr(0, file.rfind('/')));
  EXPECT_EQ(folders, Strings(5, folders[0]));
  EXPECT_NE(folders[0], run());
  EXPECT_EQ(filesUnder(run()), Strings{run() + "/theirs.txt"});
  EXPECT_EQ(readFile(run() + "/theirs.txt"), "theirs");
  EXPECT_NE(ours[0].substr(0, ours[0].size() - 4), ours[2].substr(0, ours[2].size() - 4));
  EXPECT_EQ(g_autosaves.last_save_file(), root() + ours[3]);
  EXPECT_EQ(drainEvents(), (Strings{"8 1 " + root() + ours[0], "8 1 " + root() + ours[2]}));
  g_operator = nullptr;

  // A root that is a file, and one whose parent is missing, so the run folder cannot be made.
  writeFile("plain", "");
  CaptureStdout();
  EXPECT_EQ(m_operator.makeSavingFolder(2, rootPath("plain")), "");
  EXPECT_EQ(GetCapturedStdout(), "error in creating saving folder. \n");
  g_parameters.set_project_to_save("none/record");
  EXPECT_EQ(save(), "failed: error in creating root saving folder. \nthe painting was not saved: the folder " +
                        rootPath("none/record") + " could not be made (No such file or directory); the work is still open\n");
}

TEST_F(OperatorFilesTest, APaintingHoldsTheVisibleStrokesAndItsObjOnlyTheRibbons) {
  draw(3);
  draw(3, 1.0f)->setVisible(false);
  draw(3, 2.0f);
  draw(5, 3.0f, 0);  // a pen stroke in the brush's history: stored, not exported
  draw(3, 4.0f)->setRemoved(true);
  draw(3, 5.0f);
  brush().undo();
  g_modeState[3] = 7;
  ASSERT_EQ(save(rootPath("named")), "saved");
  quillax::Painting painting;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("named.txt").c_str(), &painting));
  std::vector<float> xs;
  for (const quillax::Operation& op : painting.operations()) xs.push_back(op.points(0).x());
  EXPECT_EQ(xs, (std::vector<float>{0.0f, 2.0f, 3.0f}));
  EXPECT_EQ(painting.hair_class(), 7);
  EXPECT_EQ(painting.head(), g_parameters.head_model());
  EXPECT_EQ(groups(readFile("named.obj")), (Strings{"stroke_0_type1", "stroke_2_type1"}));
  EXPECT_EQ(g_autosaves.last_save_file(), rootPath("named.txt"));
  // The OBJ cannot: reported, and the save holds.
  fs::create_directories(rootPath("obj.obj"));
  EXPECT_EQ(save(rootPath("obj")), "saved: Failed to open file [ " + rootPath("obj.obj") + " ] for write. (Is a directory)\n");
  EXPECT_EQ(g_autosaves.last_save_file(), rootPath("obj.txt"));
}

TEST_F(OperatorFilesTest, ANamedSaveFailingAtAnyByteKeepsTheOlderFilesAndTheLastSave) {
  g_defaultLightCurve.mutable_v()->Truncate(2);  // a small painting: every byte is tried
  draw(2);
  ASSERT_EQ(save(rootPath("p")), "saved");
  const std::string olderText = readFile("p.txt"), olderObj = readFile("p.obj");
  draw(2, 1.0f);
  g_autosaves.set_last_save_file("before");
  m_operator.m_writer.reset();  // a forked copy of the process has no copy of the writer's thread
  // What the whole save writes now, from a copy of the process.
  ASSERT_EQ(underFileSizeLimit(1 << 20, [this] { return m_operator.savePainting(rootPath("q")) ? 0 : 1; }), 0);
  const std::string newerText = readFile("q.txt"), newerObj = readFile("q.obj");
  for (size_t k = 0; k <= std::max(newerText.size(), newerObj.size()); ++k) {
    const int code = underFileSizeLimit(k, [this] {
      const bool saved = m_operator.savePainting(rootPath("p"));
      return (saved ? 1 : 0) | (g_autosaves.last_save_file() == "before" ? 2 : 0);
    });
    const bool textFits = k >= newerText.size(), objFits = textFits && k >= newerObj.size();
    EXPECT_EQ(code, textFits ? 1 : 2) << k;
    EXPECT_EQ(readFile("p.txt"), textFits ? newerText : olderText) << k;
    EXPECT_EQ(readFile("p.obj"), objFits ? newerObj : olderObj) << k;
  }
  EXPECT_EQ(filesUnder(""), (Strings{"p.obj", "p.txt", "q.obj", "q.txt"}));
}

TEST_F(OperatorFilesTest, AStrokeOfTheHeadLevelIsStoredInTheHeadFrameAndComesBackTheSame) {
  quillax::Model placement;
  ASSERT_TRUE(ReadProtoFromTextFile(repoAssetPath("models/defaultHead/headTransform.txt").c_str(), &placement));
  ASSERT_EQ(placement.transforms().v_size(), 16);
  const Matrix4 head(placement.transforms().v().data());
  g_transformer->pushTransform(head);
  Operatable* stroke = draw(4);
  stroke->m_transformLevel = 1;
  stroke->computeFrames(false, true);  // normals along the stroke's own frame, as a load has them
  stroke->rebuildControl();  // control points in the head frame, as a release gives them
  ASSERT_EQ(save(rootPath("level")), "saved");
  quillax::Painting painting;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("level.txt").c_str(), &painting));
  Matrix4 inverse = head;
  invertAffineMatrix4ByLU(head, inverse);
  for (int i = 0; i < 4; ++i) {
    const Vec3f expected = transformPoint(inverse, stroke->pointAt(static_cast<float>(i)));
    const Vec3f stored = toVec3(painting.operations(0).points(i));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(stored[c], expected[c], 1e-5f) << i;
  }

  m_operator.reset();  // no head: no level
  CaptureStdout();
  ASSERT_TRUE(m_operator.loadPainting(rootPath("level.txt"), false));
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(brush().size(), 1);
  ASSERT_EQ(save(rootPath("again")), "saved");
  EXPECT_EQ(readFile("again.txt"), readFile("level.txt"));
}

TEST_F(OperatorFilesTest, LoadsReadFilesAndFoldersAndChangeNothingOnFailure) {
  draw(3);
  fs::create_directories(rootPath("a/b"));
  ASSERT_EQ(save(rootPath("a/b/b")), "saved");
  writeFile("cut.txt", readFile("a/b/b.txt").substr(0, readFile("a/b/b.txt").find("head:")));
  writeFile("bad.txt", "operations { points { x: 1 } ");
  fs::create_directories(rootPath("empty"));
  m_operator.reset();

  const struct {
    std::string path;
    bool result;
    int strokes;
    std::string printed;
  } cases[] = {
      {rootPath("a/b"), true, 1, ""},
      {rootPath("a/b/b.obj"), true, 1, ""},
      {rootPath("x.obj/none.txt"), true, 1, ""},
      {rootPath("empty"), false, 1, "ReadProtoFromTextFile " + rootPath("empty/empty.txt") + " not found!\n"},
      {rootPath("missing"), false, 1, ""},
      {rootPath("bad.txt"), false, 1,
       "ReadProtoFromTextFile " + rootPath("bad.txt") + " does not parse: line 1 column 30: Expected identifier, got: \n"},
      {rootPath("cut.txt"), true, 2,
       "painting " + rootPath("cut.txt") + " ends before its hair class: the file may be cut short, 1 strokes read\n"},
  };
  google::protobuf::LogSilencer quiet;
  for (const auto& c : cases) {
    CaptureStdout();
    EXPECT_EQ(m_operator.loadPainting(c.path, false), c.result) << c.path;
    EXPECT_EQ(GetCapturedStdout(), c.printed) << c.path;
    EXPECT_EQ(brush().size(), c.strokes) << c.path;
  }
}

TEST_F(OperatorFilesTest, ReplacingTheWorkReadsFirstAndNeverResetsAfterAFailedSave) {
  draw(3);
  ASSERT_EQ(save(rootPath("other")), "saved");
  draw(4, 1.0f);
  writeFile("bad.txt", "operations {");
  google::protobuf::LogSilencer quiet;
  CaptureStdout();
  EXPECT_FALSE(m_operator.replacePainting(rootPath("bad.txt"), true, -1));
  EXPECT_EQ(GetCapturedStdout(), "ReadProtoFromTextFile " + rootPath("bad.txt") +
                                     " does not parse: line 1 column 13: Expected identifier, got: \n"
                                     "painting " + rootPath("bad.txt") + " not loaded: the current work stays.\n");
  EXPECT_EQ(brush().size(), 2);
  EXPECT_TRUE(filesUnder("data").empty());

  g_parameters.set_project_to_save("none/record");
  CaptureStdout();
  EXPECT_FALSE(m_operator.replacePainting(rootPath("other.txt"), true, -1));
  EXPECT_EQ(GetCapturedStdout(), "error in creating root saving folder. \nthe painting was not saved: the folder " +
                                     rootPath("none/record") +
                                     " could not be made (No such file or directory); the work is still open\n"
                                     "the current work could not be saved: " + rootPath("other.txt") +
                                     " not loaded, the work stays.\n");
  EXPECT_EQ(brush().size(), 2);
}

TEST_F(OperatorFilesTest, TheFileListIsSortedWithSubFoldersAndStepsByIndex) {
  draw(2);
  fs::create_directories(rootPath("list/sub"));
  for (const char* name : {"list/b", "list/a", "list/sub/z"}) ASSERT_EQ(save(rootPath(name)), "saved") << name;
  // Neither other files nor a temporary left by a save cut short are painting files.
  for (const char* name : {"list/c.obj.txt.bak", "list/sub/y.png", "list/.~a.txt.1.0.tmp"}) writeFile(name, "");
  CaptureStdout();
  m_operator.listFiles(rootPath("list"), ".txt");
  EXPECT_EQ(GetCapturedStdout(), "total 3 files\n");
  const std::string list = rootPath("list/");
  EXPECT_EQ(m_operator.m_files, (Strings{list + "a.txt", list + "b.txt", list + "sub/z.txt"}));

  for (int outside : {-1, 3}) {
    CaptureStdout();
    m_operator.loadFileByIndex(outside);
    EXPECT_EQ(GetCapturedStdout(), "");
  }
  EXPECT_EQ(brush().size(), 1);
  CaptureStdout();
  m_operator.onKey('.');
  m_operator.onKey('.');
  const std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("prepare to load file 1/3 " + list + "b.txt\n"), std::string::npos) << out;
  EXPECT_EQ(brush().size(), 1);
  // The work loaded from a.txt was saved under a.txt's folder and stem.
  const std::string saved = g_autosaves.last_save_file();
  EXPECT_EQ(saved.substr(0, rootPath("data/record/list_").size()), rootPath("data/record/list_"));
  EXPECT_NE(saved.find("/a_"), std::string::npos) << saved;

  // A list file that does not read keeps the work and the saves, and the next step goes past it.
  writeFile("list/sub/z.txt", "operations {");
  google::protobuf::LogSilencer quiet;
  CaptureStdout();
  m_operator.onKey('.');
  GetCapturedStdout();
  EXPECT_EQ(m_operator.m_fileIndex, 2);
  EXPECT_EQ(brush().size(), 1);
  EXPECT_EQ(g_autosaves.last_save_file(), saved);

  CaptureStdout();
  m_operator.listFiles(rootPath("nowhere"), ".txt");
  EXPECT_EQ(GetCapturedStdout(), "total 0 files\n");
}

TEST_F(OperatorFilesTest, AutosaveAndSavesWaitForARunFolderAndTheWriterTakesThemInOrder) {
  g_operator = &m_operator;
  g_defaultLightCurve.mutable_v()->Truncate(2);
  draw(3);
  draw(40, 1.0f, 2);
  CaptureStdout();
  EXPECT_TRUE(Operator::autosave());  // before any save: it fails and makes no run folder
  m_operator.waitForSaves();
  GetCapturedStdout();
  EXPECT_FALSE(fs::exists(rootPath(run())));
  ASSERT_EQ(save(), "saved");  // the run folder, for the autosave
  // A pipe holds the first save's text until the test reads it: a write in flight.
  ASSERT_EQ(mkfifo(rootPath("held.txt").c_str(), 0644), 0);
  EXPECT_EQ(m_operator.saveInBackground(rootPath("held")), Operator::SaveResult::Saved);
  draw(4, 2.0f);  // after the hand-over: in the next save only
  EXPECT_TRUE(m_operator.writing());
  EXPECT_FALSE(Operator::autosave());
  EXPECT_EQ(m_operator.saveInBackground(rootPath("queued")), Operator::SaveResult::Saved);
  // One save waits behind the one in flight: a third command waits until the writer takes it.
  std::atomic<bool> thirdReturned{false};
  Operator::SaveResult third = Operator::SaveResult::Failed;
  std::thread frame([&] {
    third = m_operator.saveInBackground(rootPath("none/failed"));
    thirdReturned = true;
  });
  for (int i = 0; i < 10000 && !thirdReturned && m_operator.writer().waitingForRoom() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a safety limit only
  EXPECT_EQ(m_operator.writer().waitingForRoom(), 1u);
  EXPECT_FALSE(thirdReturned);
  CaptureStdout();
  CaptureStderr();
  std::string held;
  {
    std::ifstream pipe(rootPath("held.txt"));
    held.assign(std::istreambuf_iterator<char>(pipe), std::istreambuf_iterator<char>());
  }
  frame.join();
  EXPECT_EQ(third, Operator::SaveResult::Saved);
  EXPECT_FALSE(m_operator.waitForSaves());  // the last one failed
  EXPECT_EQ(GetCapturedStdout(), "WriteProtoToTextFile " + rootPath("none/failed.txt") +
                                     " not found!\nthe painting was not saved; the work is still open\n");
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(g_autosaves.last_save_file(), rootPath("queued.txt"));
  EXPECT_FALSE(fs::exists(rootPath(run() + "/autosaves.txt")));
  drainEvents();

  // Each file is what the same save writes on the calling thread, with one formatting thread.
  std::vector<Operatable*> upToCursor = brush().m_history;
  quillax::Painting painting;
  m_operator.fillPainting(&painting);
  ASSERT_TRUE(WriteProtoToTextFile(painting, rootPath("direct.txt").c_str()));
  ASSERT_TRUE(writeStrokesObj(upToCursor, rootPath("direct.obj"), 1));
  EXPECT_EQ(readFile("queued.txt"), readFile("direct.txt"));
  EXPECT_EQ(readFile("queued.obj"), readFile("direct.obj"));
  upToCursor.pop_back();
  painting.mutable_operations()->RemoveLast();
  std::string text;
  google::protobuf::TextFormat::PrintToString(painting, &text);
  EXPECT_EQ(held, text);
  ASSERT_TRUE(writeStrokesObj(upToCursor, rootPath("direct.obj"), 1));
  EXPECT_EQ(readFile("held.obj"), readFile("direct.obj"));

  EXPECT_TRUE(Operator::autosave());  // nothing in flight now
  m_operator.waitForSaves();
  EXPECT_EQ(readFile(run() + "/autosaves.txt"), readFile("direct.txt"));
  g_operator = nullptr;
}

TEST_F(OperatorFilesTest, TheControllerSavesTheWorkWhenItGoesAfterWhatWasHandedOver) {
  auto controller = std::make_unique<Operator>();
  controller->createTools(false);
  controller->getTool(1)->push(makeStroke(1, 0, 3), false);
  const std::string folder = "data/record/" + std::to_string(controller->m_id);
  ASSERT_EQ(controller->saveInBackground(rootPath("data/handed")), Operator::SaveResult::Saved);
  controller.reset();
  const Strings files = filesUnder("data");
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ((Strings{files[0], files[1]}), (Strings{"data/handed.obj", "data/handed.txt"}));
  EXPECT_EQ(files[2].rfind(folder + "/", 0), 0u);

  // Its last save fails (a disk that is full): nothing stays open to go on with.
  std::string printed;
  ASSERT_EQ(underFileSizeLimit(
                0,
                [] {
                  dup2(2, 1);
                  {
                    Operator last;
                    last.createTools(false);
                    last.getTool(1)->push(makeStroke(1, 0, 3), false);
                  }
                  std::fflush(stdout);
                  return 0;
                },
                &printed),
            0);
  const std::string ending = ".txt not found! (File too large)\nthe painting was not saved\n";
  EXPECT_EQ(printed.rfind("WriteProtoToTextFile " + rootPath("data/record/"), 0), 0u) << printed;
  ASSERT_GE(printed.size(), ending.size());
  EXPECT_EQ(printed.substr(printed.size() - ending.size()), ending) << printed;
}

// A save handed over just before the close that fails prints only its reason, as no work stays
// open; the close's last word names it as a copy, with where the painting is.
TEST_F(OperatorFilesTest, ASaveThatFailsOnceTheCloseBeganLeavesNothingOpen) {
  draw(3);
  // A pipe holds a save's text until the test reads it: a write in flight.
  ASSERT_EQ(mkfifo(rootPath("held.txt").c_str(), 0644), 0);
  ASSERT_EQ(m_operator.saveInBackground(rootPath("held")), Operator::SaveResult::Saved);
  ASSERT_EQ(m_operator.saveInBackground(rootPath("none/failed")), Operator::SaveResult::Saved);
  CaptureStdout();
  bool closed = false;
  std::thread close([&] { closed = m_operator.saveAtClose(); });
  for (int i = 0; i < 10000 && m_operator.writer().waitingForRoom() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a safety limit only
  std::ifstream(rootPath("held.txt")).ignore(std::numeric_limits<std::streamsize>::max());
  close.join();
  EXPECT_TRUE(closed);
  EXPECT_TRUE(m_operator.reportClose());
  EXPECT_EQ(GetCapturedStdout(), "WriteProtoToTextFile " + rootPath("none/failed.txt") +
                                     " not found!\nthe copy " + rootPath("none/failed.txt") +
                                     " of the painting was not saved (not found); the painting is saved as " +
                                     g_autosaves.last_save_file() + "\n");
  EXPECT_EQ(filesUnder(run()).size(), 2u);
}

// The close's two copies (its own, then the controller's as it goes): the painting is saved when
// either landed, and the last word says so, naming the copy that did not; only when neither
// landed is it not saved, with the folder that could not be made.
TEST_F(OperatorFilesTest, TheClosesLastWordMatchesTheCopiesItLeft) {
  const std::string none = "none/record", made = "data/record";
  const std::string noFolder = "error in creating root saving folder. \n";
  const std::string why = "the folder " + rootPath(none) + " could not be made (No such file or directory)";
  for (const auto& [first, second] : {std::pair{made, none}, std::pair{none, made}, std::pair{none, none}}) {
    g_autosaves.clear_last_save_file();
    bool verdict = false;
    CaptureStdout();
    {
      Operator close;
      close.createTools(false);
      close.getTool(1)->push(makeStroke(1, 0, 3), false);
      g_parameters.set_project_to_save(first);
      EXPECT_EQ(close.saveAtClose(), first == made);
      g_parameters.set_project_to_save(second);
      close.m_onClosed = [&verdict](bool saved) { verdict = saved; };
    }
    const std::string landed = g_autosaves.last_save_file();
    const std::string printed = GetCapturedStdout();
    SCOPED_TRACE(first + " then " + second);
    EXPECT_EQ(verdict, !landed.empty());
    if (landed.empty()) {
      EXPECT_EQ(printed, noFolder + noFolder + "the painting was not saved: " + why + "\n");
    } else {
      EXPECT_TRUE(fs::exists(landed));
      EXPECT_EQ(printed, noFolder + "the copy of the painting was not saved: " + why +
                             "; the painting is saved as " + landed + "\n");
    }
  }
  EXPECT_EQ(filesUnder("data/record").size(), 4u);  // two landed copies, each with its OBJ
}

// A close copy whose text landed and whose OBJ did not (a disk that fills between the two) still
// saves the painting; the last word names each export not written and points at a copy with its
// export when there is one.
TEST_F(OperatorFilesTest, TheClosesLastWordNamesTheExportsItCouldNotWrite) {
  g_defaultLightCurve.mutable_v()->Truncate(2);  // a small text beside the ribbons' OBJ
  draw(12);
  draw(16, 1.0f, 2);
  ASSERT_EQ(save(rootPath("measure")), "saved");
  const size_t text = readFile("measure.txt").size(), obj = readFile("measure.obj").size();
  ASSERT_LT(2 * text, obj);
  const rlim_t textOnly = (text + obj) / 2, all = 1 << 20;
  m_operator.m_writer.reset();  // a forked copy of the process has no copy of the writer's thread
  enum Second { Whole, TextOnly, NoWork };
  for (const Second second : {Whole, TextOnly, NoWork}) {
    fs::remove_all(rootPath("data/record"));
    std::string printed;
    const int code = underFileSizeLimit(all, [&] {
      dup2(2, 1);
      std::setvbuf(stdout, nullptr, _IONBF, 0);  // in order with the writer's standard error
      const auto limit = [all](rlim_t k) { const struct rlimit files = {k, all}; setrlimit(RLIMIT_FSIZE, &files); };
      limit(textOnly);
      const bool first = m_operator.saveAtClose();
      limit(second == TextOnly ? textOnly : all);
      if (second == NoWork) m_operator.reset();
      m_operator.saveAtClose();  // the controller's copy as it goes
      return first && m_operator.reportClose() ? 1 : 0;
    }, &printed);
    EXPECT_EQ(code, 1) << second;
    Strings bases;  // ids grow: the first copy's sorts first
    for (const std::string& file : filesUnder("data/record"))
      if (file.substr(file.size() - 4) == ".txt") bases.push_back(rootPath(file.substr(0, file.size() - 4)));
    ASSERT_EQ(bases.size(), second == NoWork ? 1u : 2u) << second;
    const std::string &p1 = bases.front(), &p2 = bases.back(), why = " (File too large)";
    const std::string objLine = "File [ " + p1 + ".obj ] could not be written." + why + "\n";
    const std::string tail = "the painting is saved as " + p1 + ".txt, without its export " + p1 + ".obj" + why + "\n";
    const Strings expected = {
        objLine + "the export " + p1 + ".obj of the painting was not saved" + why + "; the painting is saved as " +
            p2 + ".txt\n",
        objLine + "File [ " + p2 + ".obj ] could not be written." + why + "\nthe export " + p2 +
            ".obj of the painting was not saved" + why + "; " + tail,
        objLine + tail};
    EXPECT_EQ(printed, expected[second]) << second;
  }
}

// The writer prints failed saves' lines while another thread prints its own: each line goes out
// in one write of its own, so none can land inside another.
TEST_F(OperatorFilesTest, LinesTheWriterAndAnotherThreadPrintAtOnceAreEachOneWrite) {
  g_defaultLightCurve.mutable_v()->Truncate(2);
  draw(2);
  fs::create_directories(rootPath("obj.obj"));
  const std::string frameLine = "a line of the frame\n";
  const Strings lines = {
      frameLine,
      "WriteProtoToTextFile " + rootPath("none/failed.txt") + " not found!\n",
      "the painting was not saved; the work is still open\n",
      "Failed to open file [ " + rootPath("obj.obj") + " ] for write. (Is a directory)\n",
  };
  const Strings writes = writesOf([&] {
    std::thread frame([&] {
      for (int i = 0; i < 50; ++i) platform::printWhole(stdout, "%s", frameLine.c_str());
    });
    for (int i = 0; i < 50; ++i)
      m_operator.saveInBackground(rootPath(i % 10 == 0 ? "obj" : "none/failed"));
    m_operator.waitForSaves();
    frame.join();
  });
  std::vector<int> counts(lines.size());
  Strings split;
  for (const std::string& write : writes) {
    const auto line = std::find(lines.begin(), lines.end(), write);
    if (line == lines.end() && split.size() < 3) split.push_back(write);
    if (line != lines.end()) ++counts[static_cast<size_t>(line - lines.begin())];
  }
  EXPECT_EQ(split, Strings{});
  EXPECT_EQ(counts, (std::vector<int>{50, 45, 45, 5}));
}

TEST_F(OperatorFilesTest, EveryCutOfASavedPaintingFailsWholeOrAddsWholeStrokes) {
  g_defaultLightCurve.mutable_v()->Truncate(2);  // fewer bytes to cut at
  for (int i = 0; i < 5; ++i) brush().push(makeStroke(1 + i % 3, i - 2, 3 + i, 0.1f * i), false);
  ASSERT_EQ(save(rootPath("five")), "saved");
  const std::string text = readFile("five.txt");
  std::vector<int> counts;
  for (int i = 0; i < 5; ++i) counts.push_back(brush().m_history[i]->pointCount());
  m_operator.reset();

  google::protobuf::LogSilencer quiet;
  int partial = 0;
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    draw(2, 9.0f);  // the work already there
    // What a load does after reading the file: the cut text parsed, its strokes handed over.
    PaintingStrokes read;
    CaptureStdout();
    const bool loaded = parsePaintingStrokes(text.substr(0, cut), false, &read);
    GetCapturedStdout();
    if (loaded) m_operator.addStrokes(read);
    const int added = brush().size() - 1;
    EXPECT_EQ(brush().m_history[0]->pointCount(), 2) << cut;
    if (!loaded) {
      EXPECT_EQ(added, 0) << cut;
    } else {
      ASSERT_LE(added, 5) << cut;
      for (int i = 0; i < added; ++i) EXPECT_EQ(brush().m_history[i + 1]->pointCount(), counts[i]) << cut;
      const bool whole = cut >= text.size() - 1;  // at most the last line end is gone
      EXPECT_EQ(read.cutShort, !whole) << cut;
      if (!whole && added < 5) ++partial;
    }
    brush().reset();
  }
  EXPECT_GE(partial, 5);  // a cut before each operation reads the ones before it
}
