#include <google/protobuf/descriptor.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "support/asset_root.h"

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using FD = FieldDescriptor;
using google::protobuf::Message;

namespace {

// Every message type of the schema, nested ones after their parent.
void collect(const Descriptor* d, std::vector<const Descriptor*>* all) {
  all->push_back(d);
  for (int i = 0; i < d->nested_type_count(); ++i) collect(d->nested_type(i), all);
}

#define SET_OR_ADD(Type, value) \
  (f->is_repeated() ? r->Add##Type(m, f, value) : r->Set##Type(m, f, value))

// Sets every field of `m`, two entries per repeated field, going `depth` levels into
// sub-messages. With `defaults` each value is the field's default, else a distinct value
// chosen to stress the text form (negative, large 64-bit, fractional, quoted and non-ASCII).
void fill(Message* m, bool defaults, int depth, int* seed) {
  const google::protobuf::Reflection* r = m->GetReflection();
  for (int i = 0; i < m->GetDescriptor()->field_count(); ++i) {
    const FieldDescriptor* f = m->GetDescriptor()->field(i);
    if (f->cpp_type() == FD::CPPTYPE_MESSAGE && depth == 0) continue;
    for (int k = 0; k < (f->is_repeated() ? 2 : 1); ++k) {
      const int s = ++*seed;
      switch (f->cpp_type()) {
        case FD::CPPTYPE_INT32: SET_OR_ADD(Int32, defaults ? f->default_value_int32() : (s % 2 ? -s : s * 1000)); break;
        case FD::CPPTYPE_INT64: SET_OR_ADD(Int64, defaults ? f->default_value_int64() : 2107131200000000LL + s); break;
        case FD::CPPTYPE_FLOAT: SET_OR_ADD(Float, defaults ? f->default_value_float() : s * 0.1f - 7.0f); break;
        case FD::CPPTYPE_STRING:
          SET_OR_ADD(String, defaults ? f->default_value_string() : "dir/f " + std::to_string(s) + " \"q\"\n\xc3\xa9");
          break;
        case FD::CPPTYPE_MESSAGE:
          fill(f->is_repeated() ? r->AddMessage(m, f) : r->MutableMessage(m, f), defaults, depth - 1, seed);
          break;
        default:  // a type this filler leaves unset would escape the round trip below
          ADD_FAILURE() << f->full_name() << " has a type the filler does not set";
      }
    }
  }
}

class SchemaFileTest : public AssetRootTest {
 protected:
  // Reads `text` as written in a file into `m`.
  bool read(const std::string& text, Message* m) {
    writeFile("m.txt", text);
    return ReadProtoFromTextFile(rootPath("m.txt").c_str(), m);
  }
};

}  // namespace

TEST_F(SchemaFileTest, EveryMessageSurvivesATextFileWithPresenceKept) {
  std::vector<const Descriptor*> all;
  const auto* file = quillax::Parameters::descriptor()->file();
  for (int i = 0; i < file->message_type_count(); ++i) collect(file->message_type(i), &all);
  for (const Descriptor* d : all) {
    for (const bool defaults : {false, true}) {
      SCOPED_TRACE(d->full_name() + (defaults ? " (defaults)" : ""));
      const google::protobuf::Message* prototype =
          google::protobuf::MessageFactory::generated_factory()->GetPrototype(d);
      std::unique_ptr<Message> m(prototype->New()), back(prototype->New());
      int seed = 0;
      fill(m.get(), defaults, 2, &seed);
      ASSERT_TRUE(WriteProtoToTextFile(*m, rootPath("m.txt").c_str()));
      ASSERT_TRUE(ReadProtoFromTextFile(rootPath("m.txt").c_str(), back.get()));
      // Presence counts: a field set to its default must come back set.
      std::string differences;
      google::protobuf::util::MessageDifferencer differ;
      differ.ReportDifferencesToString(&differences);
      EXPECT_TRUE(differ.Compare(*m, *back)) << differences;
    }
  }
}

TEST_F(SchemaFileTest, MixedCaseNamesAreTheSchemasOwn) {
  quillax::HairShaderParam shader;
  ASSERT_TRUE(read("R_width: 0.5\nTRT_cone_angle: -3\n", &shader));
  EXPECT_EQ(std::make_pair(shader.r_width(), shader.trt_cone_angle()), std::make_pair(0.5f, -3.0f));
  // The lower-cased accessor name is not a field name in the file.
  EXPECT_FALSE(read("r_width: 0.5\n", &shader));

  // depthFixed switches by presence, so a 0 must read back as present and be written again.
  const std::string widgetText = "depthFixed: 0\ncolNum: 3\nvfirstAlignment: 1\n";
  quillax::WidgetParam widget;
  ASSERT_TRUE(read(widgetText, &widget));
  EXPECT_TRUE(widget.has_depthfixed());
  EXPECT_EQ(widget.colnum(), 3);
  ASSERT_TRUE(WriteProtoToTextFile(widget, rootPath("m.txt").c_str()));
  EXPECT_EQ(readFile("m.txt"), widgetText);
}
