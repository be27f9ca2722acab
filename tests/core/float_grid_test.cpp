#include "core/float_grid.h"

#include <gtest/gtest.h>

#include "core/dense_matrix.h"

namespace {

FloatGrid grid(int rows, int columns, std::initializer_list<float> values) {
  FloatGrid g(rows, columns);
  auto it = values.begin();
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) g[i][j] = *it++;
  return g;
}

void expectGrid(const FloatGrid& g, int rows, int columns, std::initializer_list<float> values) {
  ASSERT_EQ(g.rows(), rows);
  ASSERT_EQ(g.columns(), columns);
  auto it = values.begin();
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) EXPECT_EQ(g[i][j], *it++) << "[" << i << "][" << j << "]";
}

}  // namespace

TEST(FloatGrid, MultiplyPutsTheThirdArgumentFirst) {
  const FloatGrid a = grid(2, 2, {1, 2, 3, 4}), b = grid(2, 2, {0, 1, 1, 0});
  FloatGrid out;
  FloatGrid::multiply(a, out, b);
  expectGrid(out, 2, 2, {3, 4, 1, 2});  // b a swaps a's rows; a b would swap its columns

  // b's columns must match a's rows, else a copy of a.
  const FloatGrid tall = grid(3, 1, {1, 2, 3});
  FloatGrid::multiply(tall, out, b);
  expectGrid(out, 3, 1, {1, 2, 3});
  const FloatGrid row = grid(1, 3, {1, 1, 1});
  FloatGrid::multiply(tall, out, row);
  expectGrid(out, 1, 1, {6});

  FloatGrid alias = a;
  FloatGrid::multiply(alias, alias, b);
  expectGrid(alias, 2, 2, {3, 4, 1, 2});
}

TEST(FloatGrid, ScaleDivideAddTransposeAndShapes) {
  FloatGrid a = grid(2, 3, {1, 2, 3, 4, 5, 6});
  FloatGrid out;
  FloatGrid::scale(a, out, 2.0f);
  expectGrid(a, 2, 3, {2, 4, 6, 8, 10, 12});  // a changes too
  expectGrid(out, 2, 3, {2, 4, 6, 8, 10, 12});

  FloatGrid::divide(a, out, 4.0f);
  expectGrid(out, 2, 3, {0.5f, 1, 1.5f, 2, 2.5f, 3});
  FloatGrid::divide(a, out, 0.0f);
  expectGrid(out, 2, 3, {2, 4, 6, 8, 10, 12});

  FloatGrid::add(a, out, grid(2, 3, {1, 1, 1, 1, 1, 1}));
  expectGrid(out, 2, 3, {3, 5, 7, 9, 11, 13});
  FloatGrid::add(a, out, FloatGrid::identity());
  expectGrid(out, 2, 3, {2, 4, 6, 8, 10, 12});

  FloatGrid::transpose(a, out);
  expectGrid(out, 3, 2, {2, 8, 4, 10, 6, 12});

  expectGrid(FloatGrid::identity(), 3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  expectGrid(FloatGrid(-1, 4, 1.0f), 0, 0, {});
  expectGrid(FloatGrid(2, 1, 7.0f), 2, 1, {7, 7});

  const DenseMatrix d;
  EXPECT_EQ(d.rows(), 3);
  EXPECT_EQ(d(0, 0) + d(1, 1) + d(2, 2), 3.0);
  EXPECT_EQ(d(0, 1), 0.0);
}
