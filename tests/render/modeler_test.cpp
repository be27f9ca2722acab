#include "render/modeler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "core/settings.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/grider.h"
#include "render/head_model.h"
#include "render/level_set.h"
#include "render/light.h"
#include "render/render_gl_fixture.h"
#include "render/sample_grid.h"
#include "support/shipped_head.h"

namespace {

// A stand-in for the transform tool.
class FakeTransformTool : public TransformToolView {
 public:
  bool grabEngaged() const override { return engaged; }
  const Matrix4& grabMatrix() const override { return grab; }
  ModelElement* pickedElement() const override { return picked; }
  void setPickedElement(ModelElement* element) override { picked = element; }
  void pushTransform(const Matrix4& transform) override { pushed.push_back(transform); }

  bool engaged = false;
  Matrix4 grab;
  ModelElement* picked = nullptr;
  std::vector<Matrix4> pushed;
};

Matrix4 translation(float x, float y, float z) {
  Matrix4 m;
  m.at(0, 3) = x, m.at(1, 3) = y, m.at(2, 3) = z;
  return m;
}

// `element` given a unit box around `centre`, no geometry.
template <class Element>
Element* boxed(Element* element, const Vec3f& centre, bool grabbable = false) {
  BoundingBox* box = new BoundingBox(element->m_name);
  box->widen(centre - Vec3f(0.5f));
  box->widen(centre + Vec3f(0.5f));
  element->setAttached(box);
  element->updateTransform();
  if (grabbable) element->m_transformFlags.reset(new std::array<uint8_t, 4>{0, 1, 1, 1});
  return element;
}

// Mode state zeroed for a test, the transform tool's mode chosen, and restored after.
struct ModeStateScope {
  ModeStateScope() { g_modeState = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0}; }
  ~ModeStateScope() { g_modeState = saved; }
  std::vector<int32_t> saved = g_modeState;
};

class ModelerTest : public ::testing::Test {
 protected:
  ModeStateScope modeState;
  Modeler modeler;
  FakeTransformTool tool;
};

TEST_F(ModelerTest, ApplyTransformAndToSceneGoInKeyOrder) {
  modeler.m_models[5] = boxed(new ModelElement("five"), Vec3f(0, 0, 0));
  modeler.m_models[2] = boxed(new ModelElement("two"), Vec3f(1, 0, 0));
  modeler.m_models[3] = nullptr;  // skipped everywhere
  modeler.m_models[2]->setColor(Vec4f(0.1f, 0.2f, 0.3f, 0.4f));
  // T2 x T1 x M: the later transform goes on the left.
  modeler.applyTransform(translation(0, 2, 0));
  modeler.applyTransform(translation(1, 0, 0));
  const Matrix4& moved = modeler.m_models[5]->m_modelMatrix;
  EXPECT_TRUE(moved[12] == 1.0f && moved[13] == 2.0f) << moved[12] << " " << moved[13];
  EXPECT_TRUE(modeler.m_models[2]->box()->contains(Vec3f(2, 2, 0), true));  // the box follows

  quillax::Scene scene;
  modeler.toScene(&scene);
  ASSERT_EQ(scene.models_size(), 2);
  EXPECT_EQ(scene.models(0).obj_name(), "two");
  EXPECT_EQ(scene.models(1).obj_name(), "five");
  EXPECT_FLOAT_EQ(scene.models(0).transforms().v(13), 2.0f);
  EXPECT_FLOAT_EQ(scene.models(0).color().lightness(), 0.4f);
}

TEST_F(ModelerTest, GrabNearestPicksTheGrabbableModelOrLightWithTheNearestCentre) {
  modeler.m_transformTool = &tool;
  modeler.m_models[0] = boxed(new ModelElement("head-like"), Vec3f(0, 0, 0));
  modeler.m_models[1] = boxed(new ModelElement("far"), Vec3f(0.4f, 0, 0), true);
  modeler.m_models[2] = boxed(new ModelElement("near"), Vec3f(0.1f, 0, 0), true);
  modeler.grabNearest(Vec3f(0.05f, 0, 0));
  EXPECT_EQ(tool.picked, modeler.m_models[2]);
  EXPECT_TRUE(modeler.m_models[2]->isSelected() && !modeler.m_models[0]->isSelected());
  modeler.grabNearest(Vec3f(5, 5, 5));  // outside every box
  EXPECT_TRUE(tool.picked == nullptr && !modeler.m_models[2]->isSelected());

  // Another tool, or the transform tool engaged: nothing changes.
  modeler.grabNearest(Vec3f(0.05f, 0, 0));
  g_modeState[2] = 0;
  modeler.grabNearest(Vec3f(5, 5, 5));
  g_modeState[2] = 3;
  tool.engaged = true;
  modeler.grabNearest(Vec3f(5, 5, 5));
  EXPECT_EQ(tool.picked, modeler.m_models[2]);

  // The scene follows the grab only while nothing is picked.
  tool.grab = translation(0, 3, 0);
  EXPECT_EQ(modeler.sceneGrabMatrix()[13], 0.0f);
  tool.picked = nullptr;
  EXPECT_EQ(modeler.sceneGrabMatrix()[13], 3.0f);

  // A light competes like a model but the scene's moves leave it where it is.
  tool.engaged = false;
  LightModel* light = boxed(new LightModel("light"), Vec3f(-0.3f, 0, 0));
  modeler.m_lightManager->addLight(light);
  modeler.grabNearest(Vec3f(-0.25f, 0, 0));  // 0.05 from the light's centre, 0.35 from "near"'s
  EXPECT_TRUE(tool.picked == light && light->isSelected() && !modeler.m_models[2]->isSelected());
  modeler.applyTransform(translation(0, 2, 0));
  EXPECT_EQ(light->m_modelMatrix[13], 0.0f);
}

// ---- with GL: the shipped head ----

class ModelerGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    copyAsset("models/defaultHead");
    g_modeler = new Modeler();
  }
  void TearDown() override {
    delete g_modeler;
    g_modeler = nullptr;
    RenderGLTest::TearDown();
  }
  std::string headFile(const std::string& name) const {
    return rootPath("models/defaultHead/" + name);
  }
  // Loads a head description; `out` gets what was printed.
  HeadModel* loadHead(const std::string& path, std::string& out) {
    testing::internal::CaptureStdout();
    HeadModel* head = g_modeler->loadHead(path);
    out = testing::internal::GetCapturedStdout();
    return head;
  }
  ModeStateScope m_modeState;
  std::string m_out;
};

TEST_F(ModelerGLTest, TheShippedHeadLoadsPlacedWithTexturesMirrorAndGrids) {
  FakeTransformTool tool;
  g_modeler->m_transformTool = &tool;
  HeadModel* head = loadHead(headFile("head.txt"), m_out);
  ASSERT_NE(head, nullptr) << m_out;
  EXPECT_EQ(m_out.find("error"), std::string::npos) << m_out;
  EXPECT_EQ(head->m_shaderIndex, 8u) << "tangent frames from the import flags";
  EXPECT_EQ(head->m_textures.names,
            (std::vector<std::string>{"_Diffuse_Map0", "_Normal_Map0", "_Diffuse_Map1",
                                      "_Normal_Map1", "_Disp_Map0"}));
  EXPECT_EQ(std::count(head->m_textures.ids.begin(), head->m_textures.ids.end(), 0u), 0);
  ASSERT_TRUE(head->m_mirror && !head->m_mirror->isRenderable());
  ASSERT_TRUE(head->m_levelsetGrider && head->m_hairGrider);
  Eigen::MatrixXd V, N;
  Vec3f gridMin, gridMax;
  ASSERT_TRUE(readShippedHeadLevelset(V, N, gridMin, gridMax));
  EXPECT_EQ(head->m_levelsetGrider->m_min, gridMin);
  EXPECT_EQ(head->m_hairGrider->m_max, gridMax);

  // Points off the surface along its normals, in the head's own coordinates, measured against
  // the tangent plane of the nearest mesh vertex (sampled every 3 mm, finer than the 8 mm cells).
  const GLGrider& grid = *head->m_levelsetGrider;
  auto surfaceDistance = [&](const Vec3f& p) {
    const Eigen::RowVector3d q(p[0], p[1], p[2]);
    Eigen::Index nearest = 0;
    (V.rowwise() - q).rowwise().squaredNorm().minCoeff(&nearest);
    return (q - V.row(nearest)).dot(N.row(nearest).normalized());
  };
  int checked = 0;
  double worst = 0.0, sum = 0.0;
  for (Eigen::Index r = 0; r < V.rows(); r += 97) {
    const Vec3f v(float(V(r, 0)), float(V(r, 1)), float(V(r, 2)));
    const Vec3f n = normalized(Vec3f(float(N(r, 0)), float(N(r, 1)), float(N(r, 2))));
    if (v[1] < -0.1f) continue;  // the cranium and face, where hair is drawn
    Vec3f outside = v + n * 0.015f, gradient;
    grid.levelsetValue(outside, &gradient);
    Vec3f dir = normalized(n + Vec3f(0.3f, -0.2f, 0.5f));
    ASSERT_TRUE(grid.attachToLevelset(outside, &dir, 0.004f)) << r;
    // The direction keeps only its part along the surface, as a unit vector.
    EXPECT_NEAR(dot(dir, gradient), 0.0f, 1e-5f);
    EXPECT_NEAR(length(dir), 1.0, 1e-5);
    const double error = std::fabs(surfaceDistance(outside) - 0.004);
    worst = std::max(worst, error);
    sum += error;
    ++checked;
  }
  EXPECT_GT(checked, 100);
  EXPECT_LT(worst, 0.0025);
  EXPECT_LT(sum / checked, 0.0005);
  // Under the crown a point is pushed out to the level; above it, it is left where it is.
  Eigen::Index top = 0;
  V.col(1).maxCoeff(&top);
  const Vec3f crown(float(V(top, 0)), float(V(top, 1)), float(V(top, 2)));
  Vec3f inside = crown - Vec3f(0.0f, 0.01f, 0.0f), above = crown + Vec3f(0.0f, 0.015f, 0.0f);
  ASSERT_TRUE(grid.pushOutOfLevelset(inside, 0.004f));
  EXPECT_NEAR(surfaceDistance(inside), 0.004, 0.0025);
  EXPECT_FALSE(grid.pushOutOfLevelset(above, 0.004f));
  EXPECT_EQ(above, crown + Vec3f(0.0f, 0.015f, 0.0f));
  Vec3f beyond = grid.m_max + Vec3f(0.1f);  // outside the grid: not moved
  EXPECT_FALSE(grid.attachToLevelset(beyond, nullptr, 0.0f));
  EXPECT_EQ(beyond, grid.m_max + Vec3f(0.1f));

  // The stored placement, given to the transform tool and carried to every companion.
  quillax::Model file;
  Matrix4 stored;
  ASSERT_TRUE(ReadProtoFromTextFile(headFile("headTransform.txt").c_str(), &file));
  ASSERT_TRUE(floatListToMatrix(file.transforms(), stored));
  ASSERT_EQ(tool.pushed.size(), 1u);
  for (const Matrix4* m : {&head->m_modelMatrix, &tool.pushed[0],
                           &head->m_hairGrider->m_modelMatrix, &head->m_mirror->m_modelMatrix})
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ((*m)[i], stored[i]) << i;

  // The same path again shows the same head without reading anything.
  head->setRenderable(false);
  std::filesystem::remove(headFile("head.txt"));
  EXPECT_EQ(loadHead(headFile("head.txt"), m_out), head);
  EXPECT_TRUE(head->isRenderable());
}

TEST_F(ModelerGLTest, AReplacedHeadReleasesItsGridsFirstAndMissingPartsKeepTheHead) {
  std::vector<std::string> released;  // names read while the grids are still whole
  const int handle =
      addGridReleaseListener([&](coreGrider* grid) { released.push_back(grid->m_name); });
  ASSERT_NE(loadHead(headFile("head.txt"), m_out), nullptr);
  // Another description whose mesh is missing: the old head is gone and none replaces it.
  writeFile("models/defaultHead/other.txt", "head_model: \"missing.obj\"\n");
  EXPECT_EQ(loadHead(headFile("other.txt"), m_out), nullptr);
  EXPECT_NE(m_out.find("error: reading " + headFile("missing.obj")), std::string::npos);
  EXPECT_EQ(findHeadModel(), nullptr);
  EXPECT_EQ(released, (std::vector<std::string>{"levelsetGrider", "hairGrider"}));
  removeGridReleaseListener(handle);
  // A description that is not there adds nothing either.
  EXPECT_EQ(loadHead(headFile("none.txt"), m_out), nullptr);
  EXPECT_NE(m_out.find("error: fail to load textfile " + headFile("none.txt") + "."), std::string::npos);
  EXPECT_TRUE(g_modeler->m_models.empty());

  // Without the diffuse map, mirror and level-set mesh the head still loads, saying so (a fresh
  // texture cache, so the map is looked for again).
  for (const char* file : {"diffuse_albedo.png", "mirror.obj", "head_levelset.obj"})
    std::filesystem::remove(headFile(file));
  delete g_textureManager;
  g_textureManager = new TextureManager();
  g_textureManager->registerTypeNames();
  HeadModel* head = loadHead(headFile("head.txt"), m_out);
  ASSERT_NE(head, nullptr) << m_out;
  for (const char* message :
       {"error: there much be at least a diffuse texture map for the head model\n",
        "no mirror for head found!\n",
        "load levelset model fail, the attach feature will be disabled!\n"})
    EXPECT_NE(m_out.find(message), std::string::npos) << message;
  EXPECT_TRUE(!head->m_mirror && !head->m_levelsetGrider && !head->m_hairGrider);
  // The missing map keeps its sampler number, empty, so the others keep theirs.
  ASSERT_EQ(head->m_textures.ids.size(), 5u);
  EXPECT_EQ(head->m_textures.ids[0], 0u);
  EXPECT_NE(head->m_textures.ids[2], 0u);
}

TEST_F(ModelerGLTest, HostileHeadFilesAreRefusedWithALineAndTheLoadEnds) {
  // A small head; each row replaces one of its files. Its texture map never decodes.
  const std::vector<std::pair<std::string, std::string>> good = {
      {"head.txt", "head_model: \"head.obj\" head_levelset_model: \"set.obj\" diff_albedo_map: \"albedo.png\"\n"},
      {"head.obj", "v 0 0 0\nv 0.2 0 0\nv 0 0.2 0\nv 0 0 0.2\nf 1 2 3\nf 1 2 4\nf 1 3 4\nf 2 3 4\n"},
      {"set.obj", "v 0 0 0\nv 0.2 0 0\nv 0 0.2 0\nv 0 0 0.2\nvn -1 -1 -1\nvn 1 0 0\nvn 0 1 0\nvn 0 0 1\n"},
      {"mirror.obj", "v 0 -1 -1\nv 0 1 -1\nv 0 1 1\nv 0 -1 1\nvn 1 0 0\nf 1//1 2//1 3//1\nf 1//1 3//1 4//1\n"},
      {"albedo.png", "not a picture"},
  };
  struct Row {
    const char* name;
    const char* file;
    const char* text;
    const char* expected;
    bool loads;
  };
  const std::string noLevelset = "load levelset model fail, the attach feature will be disabled!\n";
  const Row rows[] = {
      {"as written", "", "", "finish levelset\n", true},
      {"empty description", "head.txt", "", "names no head_model", false},
      {"no head_model", "head.txt", "head_levelset_model: \"set.obj\"\n", "names no head_model", false},
      {"OFF claiming 2e9 faces", "head.txt", "head_model: \"head.off\"\n", "head.off is not an OBJ mesh", false},
      {"head not finite", "head.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "has a vertex that is not finite",
       false},
      {"level set far away", "set.obj", "v 100 100 100\nvn 0 1 0\n", noLevelset.c_str(), true},
      {"level set empty", "set.obj", "", noLevelset.c_str(), true},
      {"level set binary", "set.obj", "\x7f""ELF\x02\x01\x01", noLevelset.c_str(), true},
      {"level set zero normals", "set.obj", "v 0 0 0\nv 0.1 0 0\nvn 0 0 0\nvn 0 0 0\n", noLevelset.c_str(), true},
      {"mirror without a normal", "mirror.obj", "v 0 -1 -1\nv 0 1 -1\nv 0 1 1\nv 0 -1 1\nvn 0 0 0\n",
       "no mirror for head found!\n", true},
      {"mirror at infinity", "mirror.obj", "v inf -1 -1\nv 0 1 -1\nv 0 1 1\nv 0 -1 1\nvn 1 0 0\n",
       "no mirror for head found!\n", true},
  };
  writeFile("h/head.off", "OFF\n2000000000 2000000000 0\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (const auto& [file, text] : good) writeFile("h/" + file, text);
    if (*row.file) writeFile(std::string("h/") + row.file, row.text);
    delete g_modeler;  // it would hand back the head of the same description
    g_modeler = new Modeler();
    std::string out;
    HeadModel* head = loadHead(rootPath("h/head.txt"), out);
    EXPECT_NE(out.find(row.expected), std::string::npos) << out;
    EXPECT_EQ(head != nullptr, row.loads) << out;
    if (!head) continue;
    EXPECT_NE(out.find("head texture map " + rootPath("h/albedo.png") + " is missing or cannot be decoded\n"),
              std::string::npos);
    const bool levelset = row.expected != noLevelset;
    EXPECT_EQ(head->m_levelsetGrider != nullptr, levelset);
    EXPECT_EQ(out.find("finish levelset") != std::string::npos, levelset);
    EXPECT_EQ(head->m_mirror != nullptr, std::string(row.expected) != "no mirror for head found!\n");
  }
}

TEST_F(ModelerGLTest, MeshLayoutsAndContainers) {
  writeFile("m/full.obj", "mtllib full.mtl\nusemtl m\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\n"
                          "vt 0 1\nvn 0 0 1\nf 1/1/1 2/2/1 3/3/1\n");
  writeFile("m/full.mtl", "newmtl m\nmap_Ks gone.png\nmap_Kd missing.png\n");
  writeFile("m/three.obj",
            "v 0 0 0\nv 1 0 0\nv 0 1 0\no a\nf 1 2 3\no b\nf 1 3 2\no c\nf 2 3 1\n");
  testing::internal::CaptureStdout();
  ModelElement full("full"), missing("missing");
  ASSERT_TRUE(full.load(rootPath("m/full.obj"), 8));  // position, coordinates, normal
  EXPECT_EQ(full.m_floatsPerVertex, 8u);
  // Material maps in ascending type id; those that did not read keep their slot with id 0.
  EXPECT_EQ(full.m_textures.names, (std::vector<std::string>{"_Diffuse_Map0", "_Specular_Map0"}));
  EXPECT_EQ(full.m_textures.ids, (std::vector<GLuint>{0, 0}));

  ModelContainer container("box");
  ASSERT_TRUE(container.load(rootPath("m/three.obj"), 8));
  ASSERT_EQ(container.m_children.size(), 3u);
  container.setSelected(true);
  for (const auto& child : container.m_children) EXPECT_TRUE(child->isSelected());

  EXPECT_FALSE(missing.load(rootPath("m/none.obj"), 8));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR::ASSIMP::"), std::string::npos);
  // Tangent frames without coordinates would not match the face program's layout.
  EXPECT_EQ(meshLayout(false, true, true, true).shaderIndex, 4u);
  EXPECT_EQ(meshLayout(true, true, true, true).floatsPerVertex, 14u);
}

}  // namespace
