#include "WindowHelpers.h"

#include <cstddef>
#include <iostream>
#include <utility>

void update_signal(std::vector<double> &window, TESK::Matrix<float> &frame, int n) {
  const std::size_t size = window.size();
  const std::size_t fresh = static_cast<std::size_t>(n);
  std::vector<double> slid(size, 0.0);
  for (std::size_t i = fresh; i < size; ++i) slid[i - fresh] = window[i];
  const int rows = frame.nrows();
  for (std::size_t i = 0; i < fresh; ++i) {
    const int column = static_cast<int>(size - fresh + i);
    double mixed = 0.0;
    for (int j = 0; j < rows; ++j) mixed += 0.5 * frame(j, column);
    slid[size - fresh + i] = mixed;
  }
  window.swap(slid);
}

void update_fftsignal(std::vector<FftComplex> &window,
                      TESK::Matrix<std::complex<float> > &frame, int n) {
  const std::size_t size = window.size();
  const std::size_t fresh = static_cast<std::size_t>(n);
  std::vector<FftComplex> slid(size, FftComplex(0.0, 0.0));
  for (std::size_t i = fresh; i < size; ++i) slid[i - fresh] = window[i];
  for (std::size_t i = 0; i < fresh; ++i) {
    const std::complex<float> &bin = frame(0, static_cast<int>(size - fresh + i));
    slid[size - fresh + i] = FftComplex(static_cast<double>(bin.real()),
                                        static_cast<double>(bin.imag()));
  }
  window.swap(slid);
}

void PrintVector(std::vector<double> &v, int count) {
  for (std::size_t i = 0; i < v.size() && static_cast<long>(i) < count; ++i)
    std::cout << v[i] << ", ";
  std::cout << std::endl;
}
