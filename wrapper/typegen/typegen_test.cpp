#include <gtest/gtest.h>

#include <set>
#include <string>

#include "description.h"
#include "guid.h"
#include "idl.h"

namespace zul::typegen {
namespace {

constexpr char kHead[] = "library Shapes 1.0\nclass Shape\n";

TEST(DescriptionTest, RefusesBadDescriptionsWithFileLineAndCause) {
  const struct {
    const char *text, *error;
  } kCases[] = {
      {"", "d:1: no 'library' line"},
      {"\xEF\xBB\xBF# nothing\nlibrary Shapes 1.0\n", "d:2: no class described"},
      {"class Shape\nlibrary Shapes 1.0\n", "d:1: the description starts with a 'library' line"},
      {"library Shapes 1.0\nmethod Area(): double\n", "d:2: 'method' outside a class"},
      {"library Shapes 1.0\nclass Shape\nclass Shape\n", "d:3: class 'Shape' is described twice"},
      {"methd Area(): double", "d:3: unknown keyword 'methd'"},
      {"method Area(x: double, x: long)", "d:3: parameter 'x' is given twice"},
      {"method Area(Result: double)", "d:3: 'Result' names the return value"},
      {"create(data: long)\nproperty Data: long read",
       "d:4: 'Data' is spelled 'data' on line 3; a type library keeps one spelling of a name"},
      {"method Invoke()", "d:3: 'Invoke' is a reserved word"},
      {"method Area(): dbl[]", "d:3: unknown type 'dbl'"},
      {"method Area(s: Shape[])", "d:3: an array of objects cannot be passed; use variant[]"},
      {"property Area: double", "d:3: a property is read, write or both"},
      {"event Moved(x: long)", "d:3: an event's argument is a string, as the notify callback delivers it"},
      {"clsid {0000-1111}", "d:3: '{0000-1111}' is not a GUID"},
      {"iid 00000000-0000-0000-0000-0000000000aa\neventsiid {00000000-0000-0000-0000-0000000000AA}",
       "d:2: GUID 00000000-0000-0000-0000-0000000000aa is used twice"},
      {"progid Shapes.Shape\nclass Circle\nprogid shapes.shape",
       "d:4: ProgID 'shapes.shape' is taken by another class"},
  };
  for (const auto& c : kCases) {
    // Cases without a library line are lines of the class Shape.
    const bool whole = *c.text == '\0' || std::string(c.text).find("library") != std::string::npos;
    const std::string text = whole ? c.text : kHead + std::string(c.text);
    SCOPED_TRACE(text);
    try {
      ParseDescription(text, "d");
      ADD_FAILURE() << "accepted";
    } catch (const DescriptionError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
  }
}

TEST(GuidTest, NameBasedGuidsAreVersion5) {
  // Known values of other implementations; the long name takes SHA-1 past one block.
  const Guid dns = *ParseGuid("{6ba7b810-9dad-11d1-80b4-00c04fd430c8}");
  const Guid url = *ParseGuid("6BA7B811-9DAD-11D1-80B4-00C04FD430C8");
  EXPECT_EQ(GuidText(NameBasedGuid(dns, "python.org")), "886313e1-3b8a-5372-9b90-0c9aee199e5d");
  EXPECT_EQ(GuidText(NameBasedGuid(url, std::string(100, 'x'))), "c4956a8f-abe3-5d39-8dfa-4bf25e22e84b");
}

TEST(GuidTest, IdentitiesFollowNamesAndVersionsOrAreGiven) {
  const auto a = ParseDescription("library Shapes 1.0\nclass Shape\nclass Circle\n", "d");
  // A rebuild, and a change of case, keep published identities; a new version is a new class.
  const auto b = ParseDescription("library SHAPES 1.1\nclass SHAPE\nclass Circle\nversion 2\n", "d");
  EXPECT_EQ(b.libid, a.libid);
  EXPECT_EQ(b.classes[0].clsid, a.classes[0].clsid);
  EXPECT_NE(b.classes[1].clsid, a.classes[1].clsid);
  std::set<std::string> all = {GuidText(a.libid)};
  for (const Class& c : a.classes) all.insert({GuidText(c.clsid), GuidText(c.iid), GuidText(c.eventsIid)});
  EXPECT_EQ(all.size(), 7u);
  EXPECT_EQ(GuidText(ParseDescription("library ZulReference 1.0\nclass Matrix\n", "d").classes[0].clsid),
            "33022bce-19ac-569a-ac94-cdaceedfedd5");
  const auto given = ParseDescription(
      "library Shapes 1.0\nlibid {00000000-0000-0000-0000-0000000000AA}\nclass Shape\n"
      "eventsiid 00000000-0000-0000-0000-0000000000bb\n",
      "d");
  EXPECT_EQ(GuidText(given.libid) + GuidText(given.classes[0].eventsIid),
            "00000000-0000-0000-0000-0000000000aa00000000-0000-0000-0000-0000000000bb");
}

TEST(IdlTest, DeclaresMembersAsClientsBindToThem) {
  const auto d = ParseDescription(
      "library Shapes 1.0\nclass Shape\nprogid Shapes.Shape\nversion 3\n"
      "create(sides: long)\nproperty Name: string read write\nproperty Parent: Shape read write\n"
      "method Scale(ref points: double[], by: currency, other: Shape): long64[]\n"
      "method Reset()\nproperty Result: long read\nproperty Value: long read\n"
      "event Moved(where: string)\nevent Gone()\n",
      "d");
  const std::string idl = EmitIdl(d, "shapes.zultypes");
  const Class& c = d.classes[0];
  for (const std::string& line : std::vector<std::string>{
           "[uuid(" + GuidText(d.libid) + "), version(1.0), helpstring(\"Shapes\")]\nlibrary Shapes\n",
           "[object, uuid(" + GuidText(c.iid) + "), dual, oleautomation",
           "interface IShape : IDispatch\n",
           "[id(1)] HRESULT Create([in] long sides);\n",
           "[id(2), propget] HRESULT Name([out, retval] BSTR* Value);\n",
           "[id(2), propput] HRESULT Name([in] BSTR Value);\n",
           "[id(3), propputref] HRESULT Parent([in] IShape* Value);\n",
           "[id(4)] HRESULT Scale([in, out] SAFEARRAY(double)* points, [in] CURRENCY by, [in] IShape* other, "
           "[out, retval] SAFEARRAY(hyper)* Result);\n",
           "[id(5)] HRESULT Reset();\n",
           "[uuid(" + GuidText(c.eventsIid) + ")",
           "dispinterface IShapeEvents\n  {\n  properties:\n  methods:\n"
           "    [id(1)] void Moved([in] BSTR where);\n    [id(2)] void Gone();\n",
           "[uuid(" + GuidText(c.clsid) +
               "), helpstring(\"Shapes.Shape\")]\n  coclass Shape\n  {\n"
               "    [default] interface IShape;\n    [default, source] dispinterface IShapeEvents;\n",
       }) {
    EXPECT_NE(idl.find(line), std::string::npos) << line << "\nnot in\n" << idl;
  }
}

}  // namespace
}  // namespace zul::typegen
