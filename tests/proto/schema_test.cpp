#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "support/asset_root.h"

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::util::MessageDifferencer;

namespace {

const google::protobuf::FileDescriptor* schema() {
  return quillax::Parameters::descriptor()->file();
}

// Every message type of the schema, nested ones after their parent.
void collect(const Descriptor* d, std::vector<const Descriptor*>* all) {
  all->push_back(d);
  for (int i = 0; i < d->nested_type_count(); ++i) collect(d->nested_type(i), all);
}

std::vector<const Descriptor*> allMessages() {
  std::vector<const Descriptor*> all;
  for (int i = 0; i < schema()->message_type_count(); ++i) collect(schema()->message_type(i), &all);
  return all;
}

std::unique_ptr<Message> newMessage(const Descriptor* d) {
  return std::unique_ptr<Message>(
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(d)->New());
}

// Sets every field of `m`, two entries per repeated field, going `depth` levels into
// sub-messages. With `defaults` each value is the field's default, else a distinct value
// chosen to stress the text form (negative, large 64-bit, fractional, quoted and non-ASCII).
void fill(Message* m, bool defaults, int depth, int* seed) {
  const Descriptor* d = m->GetDescriptor();
  const google::protobuf::Reflection* r = m->GetReflection();
  for (int i = 0; i < d->field_count(); ++i) {
    const FieldDescriptor* f = d->field(i);
    if (f->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && depth == 0) continue;
    const int count = f->is_repeated() ? 2 : 1;
    for (int k = 0; k < count; ++k) {
      const int s = ++*seed;
      switch (f->cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT32: {
          const int32_t v = defaults ? f->default_value_int32() : (s % 2 ? -s : s * 1000);
          f->is_repeated() ? r->AddInt32(m, f, v) : r->SetInt32(m, f, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_INT64: {
          const int64_t v = defaults ? f->default_value_int64() : 2107131200000000LL + s;
          f->is_repeated() ? r->AddInt64(m, f, v) : r->SetInt64(m, f, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_FLOAT: {
          const float v = defaults ? f->default_value_float() : s * 0.1f - 7.0f;
          f->is_repeated() ? r->AddFloat(m, f, v) : r->SetFloat(m, f, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_STRING: {
          const std::string v = defaults ? f->default_value_string()
                                         : "dir/file " + std::to_string(s) + " \"q\"\n\xc3\xa9";
          f->is_repeated() ? r->AddString(m, f, v) : r->SetString(m, f, v);
          break;
        }
        case FieldDescriptor::CPPTYPE_MESSAGE: {
          Message* sub = f->is_repeated() ? r->AddMessage(m, f) : r->MutableMessage(m, f);
          fill(sub, defaults, depth - 1, seed);
          break;
        }
        default:
          ADD_FAILURE() << f->full_name() << " has a type the schema does not use";
      }
    }
  }
}

class SchemaFileTest : public AssetRootTest {
 protected:
  // Writes `m` through a text file and reads it into a fresh message of the same type.
  std::unique_ptr<Message> throughFile(const Message& m) {
    const std::string path = rootPath(m.GetDescriptor()->full_name() + ".txt");
    EXPECT_TRUE(WriteProtoToTextFile(m, path.c_str()));
    std::unique_ptr<Message> back = newMessage(m.GetDescriptor());
    EXPECT_TRUE(ReadProtoFromTextFile(path.c_str(), back.get()));
    return back;
  }
};

}  // namespace

TEST(Schema, LayoutAndConventions) {
  EXPECT_EQ(schema()->name(), "quillax.proto");
  EXPECT_EQ(schema()->package(), "quillax");
  EXPECT_EQ(schema()->syntax(), google::protobuf::FileDescriptor::SYNTAX_PROTO2);
  EXPECT_EQ(schema()->dependency_count(), 0);
  EXPECT_EQ(schema()->enum_type_count(), 0);

  const std::vector<std::string> order = {
      "FloatList", "IntList", "Event", "UIParam", "WidgetParam", "GLGeometries",
      "InteractionParam", "Color", "Operation", "Model", "Scene", "Camera", "Cameras", "Painting",
      "Hairs", "HairTextureMaps", "FaceTextureMaps", "HairShaderParam", "Result", "Parameters",
      "Autosaves", "BatchRender", "DataBatch", "Prediction", "PredictionFlow"};
  ASSERT_EQ(schema()->message_type_count(), static_cast<int>(order.size()));
  for (int i = 0; i < schema()->message_type_count(); ++i) {
    EXPECT_EQ(schema()->message_type(i)->name(), order[i]) << i;
  }

  const std::vector<const Descriptor*> all = allMessages();
  EXPECT_EQ(all.size(), order.size() + 9);
  int fields = 0;
  for (const Descriptor* d : all) {
    EXPECT_EQ(d->oneof_decl_count(), 0) << d->full_name();
    EXPECT_EQ(d->enum_type_count(), 0) << d->full_name();
    for (int i = 0; i < d->field_count(); ++i, ++fields) {
      const FieldDescriptor* f = d->field(i);
      EXPECT_FALSE(f->is_required()) << f->full_name();
      EXPECT_FALSE(f->is_packed()) << f->full_name();
    }
  }
  EXPECT_EQ(fields, 199);
}

TEST(Schema, DefaultsOfClearedMessages) {
  quillax::Parameters p;
  p.set_window_width(5);
  p.set_blend_test_model("y");
  p.Clear();
  std::vector<const FieldDescriptor*> present;
  p.GetReflection()->ListFields(p, &present);
  EXPECT_TRUE(present.empty());
  EXPECT_EQ(std::make_tuple(p.window_width(), p.window_height(), p.multisample_size(),
                            p.project_autosave_period(), p.capture_image_width(),
                            p.capture_image_height(), p.sampling_space(), p.max_curvature(),
                            p.debug_visual(), p.control_sample_size()),
            std::make_tuple(2560, 1440, 12, 180, 1000, 800, 3, 23, 0, 15));
  EXPECT_EQ(p.asset_path(), "../");
  EXPECT_EQ(p.blend_test_model(), "n");
  EXPECT_FLOAT_EQ(p.sampling_distance(), 0.012f);
  EXPECT_FLOAT_EQ(p.deform_strength(), 0.08f);

  quillax::Color c;
  c.set_alpha(0.5f);
  c.Clear();
  EXPECT_FLOAT_EQ(c.alpha(), 1.0f);
  EXPECT_FLOAT_EQ(c.red() + c.green() + c.blue() + c.lightness(), 0.0f);

  const quillax::WidgetParam w;
  EXPECT_FLOAT_EQ(w.spacing(), 0.003f);
  EXPECT_EQ(w.active(), -1);
  EXPECT_FALSE(w.has_active());
}

TEST_F(SchemaFileTest, EveryMessageSurvivesATextFile) {
  for (const Descriptor* d : allMessages()) {
    for (const bool defaults : {false, true}) {
      std::unique_ptr<Message> m = newMessage(d);
      int seed = 0;
      fill(m.get(), defaults, 2, &seed);
      std::unique_ptr<Message> back = throughFile(*m);
      std::string differences;
      MessageDifferencer differ;
      differ.ReportDifferencesToString(&differences);
      // Presence counts: a field set to its default must come back set.
      EXPECT_TRUE(differ.Compare(*m, *back))
          << d->full_name() << (defaults ? " (defaults)" : "") << "\n" << differences;
    }
  }
}

TEST_F(SchemaFileTest, MixedCaseNamesAreTheSchemasOwn) {
  writeFile("shader.txt", "R_width: 0.5\nTRT_cone_angle: -3\n");
  quillax::HairShaderParam shader;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("shader.txt").c_str(), &shader));
  EXPECT_FLOAT_EQ(shader.r_width(), 0.5f);
  EXPECT_FLOAT_EQ(shader.trt_cone_angle(), -3.0f);
  // The lower-cased accessor name is not a field name in the file.
  writeFile("lower.txt", "r_width: 0.5\n");
  EXPECT_FALSE(ReadProtoFromTextFile(rootPath("lower.txt").c_str(), &shader));

  // depthFixed switches by presence, so a 0 must read back as present.
  const std::string widgetText = "depthFixed: 0\ncolNum: 3\nvfirstAlignment: 1\n";
  writeFile("widget.txt", widgetText);
  quillax::WidgetParam widget;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("widget.txt").c_str(), &widget));
  EXPECT_TRUE(widget.has_depthfixed());
  EXPECT_FALSE(widget.has_dripable());
  EXPECT_EQ(widget.colnum(), 3);
  ASSERT_TRUE(WriteProtoToTextFile(widget, rootPath("widget.txt").c_str()));
  EXPECT_EQ(readFile("widget.txt"), widgetText);

  writeFile("camera.txt", "render_depthAsRenderBuffer: 1\n");
  quillax::Camera camera;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("camera.txt").c_str(), &camera));
  EXPECT_EQ(camera.render_depthasrenderbuffer(), 1);
}
