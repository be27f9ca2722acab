#pragma once
#include <vector>

// A small row matrix of floats, element [i][j] = row i, column j. Edit-time only: every
// operation allocates. A shape mismatch is not an error: out becomes a copy of the first operand.
// Every out may be the same object as an operand.
class FloatGrid {
 public:
  // A negative count gives a 0 x 0 grid.
  FloatGrid(int rows = 0, int columns = 0, float value = 0.0f);

  static FloatGrid identity();  // 3x3
  // out = a + b.
  static void add(const FloatGrid& a, FloatGrid& out, const FloatGrid& b);
  // out = b a (note the order): needs b's column count equal to a's row count.
  static void multiply(const FloatGrid& a, FloatGrid& out, const FloatGrid& b);
  // Scales a itself by s, then copies it to out.
  static void scale(FloatGrid& a, FloatGrid& out, float s);
  // out = a / s; a copy of a when s is exactly 0.
  static void divide(const FloatGrid& a, FloatGrid& out, float s);
  static void transpose(const FloatGrid& a, FloatGrid& out);

  int rows() const { return m_rows; }
  int columns() const { return m_columns; }
  std::vector<float>& operator[](int row) { return m_data[row]; }
  const std::vector<float>& operator[](int row) const { return m_data[row]; }

 private:
  std::vector<std::vector<float>> m_data;
  int m_rows = 0;
  int m_columns = 0;
};
