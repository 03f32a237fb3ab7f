// A dense matrix of values that can travel as an Object: int rows and
// columns, elements stored row by row, element (i, j) at i * cols + j.
//
// Class names: "Matrix<float>" and "Matrix<std::complex<float> >". printOn()
// writes "<ClassName ROWS COLS" followed by the elements row by row and
// " >"; there is no reader.
#ifndef TESK_MATRIX_H
#define TESK_MATRIX_H

#include "tesk/Object.h"

#include <complex>
#include <cstddef>
#include <vector>

namespace TESK {

// Instantiated in the library for float and std::complex<float>.
template <class T>
class Matrix : public Object {
public:
  Matrix() = default;
  // A rows x cols matrix of zeros. Negative sizes count as 0.
  Matrix(int rows, int cols);

  static Matrix<T>* alloc(int rows, int cols) { return new Matrix<T>(rows, cols); }

  int nrows() const { return rows; }
  int ncols() const { return cols; }

  // Element (i, j); no bounds check.
  T& operator()(int i, int j) { return values[static_cast<std::size_t>(i) * cols + j]; }
  const T& operator()(int i, int j) const {
    return values[static_cast<std::size_t>(i) * cols + j];
  }

  // Row-major storage, rows * cols elements.
  T* data() { return values.data(); }
  const T* data() const { return values.data(); }

  // New size; elements inside both the old and the new size keep their
  // value, the others are zero.
  void resize(int rows, int cols);

  static std::string typeName();
  std::string className() const override { return typeName(); }
  void printOn(std::ostream& out) const override;
  ObjectRef clone() const override { return ObjectRef(new Matrix<T>(*this)); }

private:
  int rows = 0;
  int cols = 0;
  std::vector<T> values;
};

extern template class Matrix<float>;
extern template class Matrix<std::complex<float> >;

}  // namespace TESK

#endif
