#pragma once
#include <vector>

// A small row matrix of doubles; element (i, j) = row i, column j. Default-constructed as the
// 3x3 identity, the only shape in use (the double-precision affine inverse).
class DenseMatrix {
 public:
  DenseMatrix() : m_data(9, 0.0), m_rows(3), m_columns(3) {
    m_data[0] = m_data[4] = m_data[8] = 1.0;
  }
  // A negative count gives a 0 x 0 matrix.
  DenseMatrix(int rows, int columns, double value = 0.0)
      : m_rows(rows < 0 || columns < 0 ? 0 : rows), m_columns(rows < 0 || columns < 0 ? 0 : columns) {
    m_data.assign(static_cast<size_t>(m_rows) * m_columns, value);
  }

  int rows() const { return m_rows; }
  int columns() const { return m_columns; }
  double& operator()(int row, int column) { return m_data[static_cast<size_t>(row) * m_columns + column]; }
  double operator()(int row, int column) const {
    return m_data[static_cast<size_t>(row) * m_columns + column];
  }
  // Row-major, rows() * columns() values.
  double* data() { return m_data.data(); }
  const double* data() const { return m_data.data(); }

 private:
  std::vector<double> m_data;
  int m_rows;
  int m_columns;
};
