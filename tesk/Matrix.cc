#include "tesk/Matrix.h"

#include <algorithm>
#include <ostream>

namespace TESK {

template <class T>
Matrix<T>::Matrix(int rows, int cols)
    : rows(std::max(rows, 0)),
      cols(std::max(cols, 0)),
      values(static_cast<std::size_t>(this->rows) * this->cols, T()) {}

template <class T>
void Matrix<T>::resize(int newRows, int newCols) {
  Matrix<T> resized(newRows, newCols);
  int keepRows = std::min(rows, resized.rows);
  int keepCols = std::min(cols, resized.cols);
  for (int i = 0; i < keepRows; ++i)
    for (int j = 0; j < keepCols; ++j) resized(i, j) = (*this)(i, j);
  rows = resized.rows;
  cols = resized.cols;
  values.swap(resized.values);
}

template <class T>
std::string Matrix<T>::typeName() {
  return TESK::typeName(typeid(Matrix<T>));
}

template <class T>
void Matrix<T>::printOn(std::ostream& out) const {
  out << "<" << className() << " " << rows << " " << cols;
  for (const T& v : values) out << " " << v;
  out << " >";
}

template class Matrix<float>;
template class Matrix<std::complex<float> >;

}  // namespace TESK
