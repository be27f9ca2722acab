#include "core/float_grid.h"

FloatGrid::FloatGrid(int rows, int columns, float value) {
  if (rows < 0 || columns < 0) rows = columns = 0;
  m_rows = rows;
  m_columns = columns;
  m_data.assign(rows, std::vector<float>(columns, value));
}

FloatGrid FloatGrid::identity() {
  FloatGrid g(3, 3, 0.0f);
  for (int i = 0; i < 3; ++i) g[i][i] = 1.0f;
  return g;
}

void FloatGrid::add(const FloatGrid& a, FloatGrid& out, const FloatGrid& b) {
  if (a.m_rows != b.m_rows || a.m_columns != b.m_columns) {
    out = a;
    return;
  }
  FloatGrid r = a;
  for (int i = 0; i < a.m_rows; ++i)
    for (int j = 0; j < a.m_columns; ++j) r[i][j] += b[i][j];
  out = std::move(r);
}

void FloatGrid::multiply(const FloatGrid& a, FloatGrid& out, const FloatGrid& b) {
  if (b.m_columns != a.m_rows) {
    out = a;
    return;
  }
  FloatGrid r(b.m_rows, a.m_columns, 0.0f);
  for (int i = 0; i < b.m_rows; ++i)
    for (int j = 0; j < a.m_columns; ++j) {
      float s = 0.0f;
      for (int k = 0; k < b.m_columns; ++k) s += b[i][k] * a[k][j];
      r[i][j] = s;
    }
  out = std::move(r);
}

void FloatGrid::scale(FloatGrid& a, FloatGrid& out, float s) {
  for (auto& row : a.m_data)
    for (float& x : row) x *= s;
  if (&out != &a) out = a;
}

void FloatGrid::divide(const FloatGrid& a, FloatGrid& out, float s) {
  FloatGrid r = a;
  if (s != 0.0f)
    for (auto& row : r.m_data)
      for (float& x : row) x /= s;
  out = std::move(r);
}

void FloatGrid::transpose(const FloatGrid& a, FloatGrid& out) {
  FloatGrid r(a.m_columns, a.m_rows, 0.0f);
  for (int i = 0; i < a.m_rows; ++i)
    for (int j = 0; j < a.m_columns; ++j) r[j][i] = a[i][j];
  out = std::move(r);
}
