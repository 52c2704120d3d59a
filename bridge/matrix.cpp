// Matrix: a rows x cols matrix of doubles; arrays carry it with dims[0] = rows varying fastest.
#include <cstring>

#include "classes.h"

namespace zul::bridge {
namespace {

void Assign(const CallContext& ctx, Object& object, const Value& value, const std::string& what) {
  if (!IsNumeric(value.type) || value.dims.size() != 2 || value.dims[0] < 1 || value.dims[1] < 1) {
    ctx.Bad(what + " must be a two-dimensional numeric array with at least one row and one column, not " +
            Describe(value));
  }
  object.rows = value.dims[0];
  object.cols = value.dims[1];
  object.data.resize(static_cast<std::size_t>(value.Count()));
  for (int64_t i = 0; i < value.Count(); ++i) object.data[static_cast<std::size_t>(i)] = RealAt(value, i);
}

Value DoubleMatrix(int64_t rows, int64_t cols, const std::vector<double>& data) {
  Value value = MakeArray(ZUL_TYP_DOUBLE, {rows, cols});
  std::memcpy(value.bytes.data(), data.data(), data.size() * sizeof(double));
  return value;
}

double At(const Object& m, int64_t r, int64_t c) {
  return m.data[static_cast<std::size_t>(r + m.rows * c)];
}

std::string ShapeText(const Object& m) {
  return std::to_string(m.rows) + "x" + std::to_string(m.cols);
}

Value GetRows(const Object& m) {
  return MakeLong(static_cast<int32_t>(m.rows));
}

Value GetCols(const Object& m) {
  return MakeLong(static_cast<int32_t>(m.cols));
}

Value GetData(const Object& m) {
  return DoubleMatrix(m.rows, m.cols, m.data);
}

void SetData(CallContext& ctx, const Value& value) {
  Assign(ctx, ctx.object, value, "the value");
}

void Construct(CallContext& ctx) {
  Assign(ctx, ctx.object, ctx.Arg(0), "argument 1");
}

Value Total(CallContext& ctx) {
  double sum = 0;
  for (double v : ctx.object.data) sum += v;
  return MakeDouble(sum);
}

Value Transpose(CallContext& ctx) {
  const Object& m = ctx.object;
  std::vector<double> data(m.data.size());
  for (int64_t r = 0; r < m.rows; ++r) {
    for (int64_t c = 0; c < m.cols; ++c) data[static_cast<std::size_t>(c + m.cols * r)] = At(m, r, c);
  }
  return DoubleMatrix(m.cols, m.rows, data);
}

Value Multiply(CallContext& ctx) {
  const Value arg = ctx.Arg(0);
  if (arg.type != ZUL_TYP_OBJREF || arg.IsArray()) {
    ctx.Bad("argument 1 must be an object reference (OBJREF), not " + Describe(arg));
  }
  const int32_t handle = ObjRefAt(arg, 0);
  const Object* other = ctx.state.ObjectByHandle(*ctx.wrapper.process, handle);
  if (other == nullptr) {
    ctx.Bad("object handle " + std::to_string(handle) + " names no object of " +
            ProcessLabel(*ctx.wrapper.process));
  }
  if (other->kind != ClassKind::kMatrix) {
    ctx.Bad("argument 1 is " + other->varName + ", a " + ClassName(other->kind) + ", not a Matrix");
  }
  const Object& a = ctx.object;
  const Object& b = *other;
  if (a.cols != b.rows) {
    ctx.Bad("cannot multiply " + ShapeText(a) + " by " + ShapeText(b) + ": the left's columns (" +
            std::to_string(a.cols) + ") must equal the right's rows (" + std::to_string(b.rows) + ")");
  }
  std::vector<double> data(static_cast<std::size_t>(a.rows * b.cols));
  for (int64_t r = 0; r < a.rows; ++r) {
    for (int64_t c = 0; c < b.cols; ++c) {
      double sum = 0;
      for (int64_t k = 0; k < a.cols; ++k) sum += At(a, r, k) * At(b, k, c);
      data[static_cast<std::size_t>(r + a.rows * c)] = sum;
    }
  }
  return DoubleMatrix(a.rows, b.cols, data);
}

Value Scale(CallContext& ctx) {
  const Value factor = ctx.Arg(0);
  if (!IsNumeric(factor.type) || factor.IsArray()) {
    ctx.Bad("argument 1 must be a numeric scalar, not " + Describe(factor));
  }
  const double f = RealAt(factor, 0);
  for (double& v : ctx.object.data) v *= f;
  return GetData(ctx.object);
}

Value Shape(CallContext& ctx) {
  Value shape = MakeArray(ZUL_TYP_LONG, {2});
  StoreInteger(shape, 0, ctx.object.rows);
  StoreInteger(shape, 1, ctx.object.cols);
  return shape;
}

}  // namespace

const ClassInfo& MatrixClass() {
  static const ClassInfo info{
      ClassKind::kMatrix,
      "Matrix",
      1,
      Construct,
      {{"Total", 0, Total},
       {"Transpose", 0, Transpose},
       {"Multiply", 1, Multiply},
       {"Scale", 1, Scale},
       {"Shape", 0, Shape}},
      {{"Rows", GetRows, nullptr}, {"Cols", GetCols, nullptr}, {"Data", GetData, SetData}},
      false};
  return info;
}

}  // namespace zul::bridge
