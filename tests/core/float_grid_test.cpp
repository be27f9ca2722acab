#include "core/float_grid.h"

#include <gtest/gtest.h>

namespace {

FloatGrid grid(int rows, int columns, std::vector<float> values) {
  FloatGrid g(rows, columns);
  for (int i = 0; i < rows * columns; ++i) g[i / columns][i % columns] = values[i];
  return g;
}

std::vector<float> flat(const FloatGrid& g) {
  std::vector<float> out;
  for (int i = 0; i < g.rows(); ++i) out.insert(out.end(), g[i].begin(), g[i].end());
  return out;
}

}  // namespace

TEST(FloatGrid, ArgumentOrdersAndMismatches) {
  const FloatGrid a = grid(2, 2, {1, 2, 3, 4}), swap = grid(2, 2, {0, 1, 1, 0});
  FloatGrid out;
  // multiply (a, out, b) is b a: swapping a's rows, where a b would swap its columns.
  FloatGrid::multiply(a, out, swap);
  EXPECT_EQ(flat(out), (std::vector<float>{3, 4, 1, 2}));
  FloatGrid::multiply(grid(3, 1, {1, 2, 3}), out, grid(1, 3, {1, 1, 1}));
  EXPECT_EQ(flat(out), std::vector<float>{6});
  // Mismatched shapes give a copy of the first operand.
  FloatGrid::multiply(grid(3, 1, {1, 2, 3}), out, swap);
  EXPECT_EQ(flat(out), (std::vector<float>{1, 2, 3}));
  FloatGrid::add(a, out, FloatGrid::identity());
  EXPECT_EQ(flat(out), flat(a));

  // scale changes its first argument as well; dividing by zero copies.
  FloatGrid b = grid(2, 3, {1, 2, 3, 4, 5, 6});
  FloatGrid::scale(b, out, 2.0f);
  EXPECT_EQ(flat(b), (std::vector<float>{2, 4, 6, 8, 10, 12}));
  FloatGrid::divide(b, out, 0.0f);
  EXPECT_EQ(flat(out), flat(b));
  FloatGrid::transpose(b, out);
  EXPECT_EQ(out.rows(), 3);
  EXPECT_EQ(flat(out), (std::vector<float>{2, 8, 4, 10, 6, 12}));
  EXPECT_EQ(FloatGrid(-1, 4, 1.0f).columns(), 0);
}
