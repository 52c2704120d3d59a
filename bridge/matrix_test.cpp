// Matrix: construction from numeric arrays, element order (dims[0] = rows, fastest), methods, properties.
#include "bridge_test_support.h"

namespace zul::bridge::test {
namespace {

constexpr const char* kNotMatrix =
    "error -1013: Matrix: argument 1 must be a two-dimensional numeric array with at least one row and one "
    "column, not ";

class MatrixTest : public BridgeTest {
 protected:
  static std::string Construct(int32_t cookie, const Fill& fill) {
    Args args(cookie);
    fill(args);
    Transaction t(cookie);
    return Outcome(ZUL_QEL_CreateObject(cookie, args.Count(), args.Values(), args.Flags(), 0, 0, 0));
  }
  // The matrix [[1, 3, 5], [2, 4, 6]] from elements of the given type.
  template <typename T>
  static int32_t Sample(uint8_t type = ZUL_TYP_LONG) {
    const int32_t cookie = Register("Matrix");
    EXPECT_EQ(Construct(cookie,
                        [&](Args& a) {
                          a.Array(type, {2, 3}, std::vector<T>{1, 2, 3, 4, 5, 6});
                        }),
              "0");
    return cookie;
  }
};

TEST_F(MatrixTest, ConstructsFromAnyNumericElementType) {
  for (int32_t cookie :
       {Sample<uint8_t>(ZUL_TYP_BYTE), Sample<uint16_t>(ZUL_TYP_UINT), Sample<float>(ZUL_TYP_FLOAT),
        Sample<uint64_t>(ZUL_TYP_ULONG64), Sample<int16_t>(ZUL_TYP_INT)}) {
    Transaction t(cookie);
    EXPECT_EQ(Do(cookie, "get Data"), "DOUBLE[2,3] 1 2 3 4 5 6");
  }
  const int32_t cookie = Register("Matrix");
  const std::pair<Fill, std::string> refused[] = {
      {[](Args&) {}, "error -1014: Matrix takes 1 constructor argument, not 0."},
      {[](Args& a) { a.Long(4); }, std::string(kNotMatrix) + "LONG."},
      {[](Args& a) { a.Array(ZUL_TYP_DOUBLE, {6}, std::vector<double>(6)); },
       std::string(kNotMatrix) + "DOUBLE[6]."},
      {[](Args& a) {
         a.Strings({2, 1}, {"a", "b"});
       },
       std::string(kNotMatrix) + "STRING[2,1]."},
      {[](Args& a) {
         a.Array(ZUL_TYP_DOUBLE, {0, 3}, std::vector<double>{});
       },
       std::string(kNotMatrix) + "DOUBLE[0,3]."},
  };
  for (const auto& [fill, expected] : refused) EXPECT_EQ(Construct(cookie, fill), expected);
}

TEST_F(MatrixTest, MethodsAndPropertiesInOrder) {
  const int32_t a = Sample<int32_t>();
  const int32_t b = Register("Matrix");
  ASSERT_EQ(Construct(b,
                      [](Args& x) {
                        x.Array(ZUL_TYP_DOUBLE, {3, 2}, std::vector<double>{1, 3, 5, 2, 4, 6});
                      }),
            "0");
  const int32_t text = Create("Text");
  const int32_t hb = ZUL_QEL_ObjRefCookie2Hvid(a, b);
  const int32_t ha = ZUL_QEL_ObjRefCookie2Hvid(a, a);
  const int32_t ht = ZUL_QEL_ObjRefCookie2Hvid(a, text);
  const struct {
    const char* what;
    Fill fill;
    std::string expected;
  } steps[] = {
      {"get Rows", {}, "LONG 2"},
      {"get COLS", {}, "LONG 3"},
      {"Total", {}, "DOUBLE 21"},
      {"shape", {}, "LONG[2] 2 3"},
      {"Transpose", {}, "DOUBLE[3,2] 1 3 5 2 4 6"},
      {"Multiply", [&](Args& x) { x.ObjRef(hb); }, "DOUBLE[2,2] 35 44 44 56"},
      {"Scale", [](Args& x) { x.Long(2); }, "DOUBLE[2,3] 2 4 6 8 10 12"},
      {"Total", {}, "DOUBLE 42"},
      {"set data",
       [](Args& x) {
         x.Longs({1, 2}, {7, 8});
       },
       "0"},
      {"Shape", {}, "LONG[2] 1 2"},
      {"Multiply", [](Args& x) { x.Long(5); },
       "error -1013: Matrix.Multiply: argument 1 must be an object reference (OBJREF), not LONG."},
      {"Multiply", [](Args& x) { x.ObjRef(99); },
       "error -1013: Matrix.Multiply: object handle 99 names no object of the default ZUL process."},
      {"Multiply", [&](Args& x) { x.ObjRef(ht); },
       "error -1013: Matrix.Multiply: argument 1 is text1, a Text, not a Matrix."},
      {"Multiply", [&](Args& x) { x.ObjRef(ha); },
       "error -1013: Matrix.Multiply: cannot multiply 1x2 by 1x2: the left's columns (2) must equal the "
       "right's rows (1)."},
      {"Scale", [](Args& x) { x.String("x"); },
       "error -1013: Matrix.Scale: argument 1 must be a numeric scalar, not STRING."},
      {"Scale", [](Args& x) { x.Long(1).Long(2); }, "error -1014: Matrix.Scale takes 1 argument, not 2."},
      {"Total", [](Args& x) { x.Long(1); }, "error -1014: Matrix.Total takes 0 arguments, not 1."},
      {"Invert", {}, "error -1011: Matrix has no method 'Invert'."},
      {"set Data",
       [](Args& x) {
         x.Longs({3}, {1, 2, 3});
       },
       "error -1013: Matrix.Data: the value must be a two-dimensional numeric array with at least one row "
       "and one "
       "column, not LONG[3]."},
      {"set Data", [](Args& x) { x.Long(1).Long(2); }, "error -1014: Matrix.Data takes 1 value, not 2."},
      {"set Rows", [](Args& x) { x.Long(1); }, "error -1012: Matrix.Rows is read-only."},
      {"set Size", [](Args& x) { x.Long(1); }, "error -1012: Matrix has no property 'Size'."},
      {"get Size", {}, "error -1012: Matrix has no property 'Size'."},
      {"get ", {}, "error -1012: No property name given."},
      {"", {}, "error -1011: No method name given."},
  };
  Transaction t(a);
  for (const auto& step : steps) EXPECT_EQ(Do(a, step.what, step.fill), step.expected) << step.what;
  EXPECT_EQ(Outcome(ZUL_QEL_CallMethod(a, "Total", 0, nullptr, nullptr, nullptr)), "0");  // no result wanted
}

}  // namespace
}  // namespace zul::bridge::test
