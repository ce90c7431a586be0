// Safe arrays of one or two dimensions with lower bounds, as the platform has them.
// A dynamic array may be unallocated; bounds of such an array, and indexes outside
// the bounds, raise "Subscript out of range" (9).
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "ovtbldiff/runtime/error.h"

namespace ovt {

template <class T>
class SafeArray {
 public:
  SafeArray() = default;  // unallocated

  // A one-dimensional array (lower bound 0) holding the given elements.
  SafeArray(std::initializer_list<T> items) { assign1(std::vector<T>(items)); }
  static SafeArray of(std::vector<T> items) {
    SafeArray a;
    a.assign1(std::move(items));
    return a;
  }
  // A two-dimensional array (lower bounds 0) of rows x columns; rows must be equally long.
  static SafeArray of2(const std::vector<std::vector<T>>& rows) {
    SafeArray a;
    int32_t cols = rows.empty() ? 0 : static_cast<int32_t>(rows[0].size());
    a.redim(0, static_cast<int32_t>(rows.size()) - 1, 0, cols - 1);
    for (size_t r = 0; r < rows.size(); ++r)
      for (int32_t c = 0; c < cols && c < static_cast<int32_t>(rows[r].size()); ++c)
        a.at(static_cast<int32_t>(r), c) = rows[r][c];
    return a;
  }

  bool allocated() const { return dims_ > 0; }
  int dims() const { return dims_; }

  // ReDim a(lb To ub): discards the contents. ub = lb - 1 gives an empty dimension.
  void redim(int32_t lb, int32_t ub) { reset(1, {lb, checkedCount(lb, ub)}, {0, 0}); }
  void redim(int32_t lb1, int32_t ub1, int32_t lb2, int32_t ub2) {
    reset(2, {lb1, checkedCount(lb1, ub1)}, {lb2, checkedCount(lb2, ub2)});
  }
  // ReDim Preserve: only the last dimension may change (else 9); elements kept. The one-bound
  // form means the bounds 0 to ub: an array with another lower bound raises 9 unchanged.
  void redimPreserve(int32_t ub) {
    if (!allocated()) return redim(0, ub);
    if (dims_ != 1 || d1_.lb != 0) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    int32_t n = checkedCount(d1_.lb, ub);
    data_.resize(static_cast<size_t>(n));
    d1_.count = n;
  }
  void redimPreserve(int32_t lb1, int32_t ub1, int32_t lb2, int32_t ub2) {
    if (!allocated()) return redim(lb1, ub1, lb2, ub2);
    if (dims_ != 2 || lb1 != d1_.lb || checkedCount(lb1, ub1) != d1_.count || lb2 != d2_.lb)
      raiseRuntime(RuntimeError::SubscriptOutOfRange);
    int32_t n2 = checkedCount(lb2, ub2);
    std::vector<T> next(static_cast<size_t>(d1_.count) * static_cast<size_t>(n2));
    for (int32_t i = 0; i < d1_.count; ++i)
      for (int32_t j = 0; j < std::min(n2, d2_.count); ++j)
        next[static_cast<size_t>(i) * n2 + j] = std::move(data_[static_cast<size_t>(i) * d2_.count + j]);
    data_ = std::move(next);
    d2_.count = n2;
  }
  // Erase: back to the unallocated state.
  void erase() { *this = SafeArray(); }

  int32_t lbound(int dim = 1) const { return bounds(dim).lb; }
  int32_t ubound(int dim = 1) const {
    const Dim& d = bounds(dim);
    // In 64 bits: lb + count passes 2147483647 for an array that ends there.
    return static_cast<int32_t>(static_cast<int64_t>(d.lb) + d.count - 1);
  }

  T& at(int32_t i) { return data_[offset1(i)]; }
  const T& at(int32_t i) const { return data_[offset1(i)]; }
  T& at(int32_t i, int32_t j) { return data_[offset2(i, j)]; }
  const T& at(int32_t i, int32_t j) const { return data_[offset2(i, j)]; }

  // All elements, row-major (for two dimensions: row i, then column j).
  const std::vector<T>& elements() const { return data_; }

  bool operator==(const SafeArray& o) const {
    return dims_ == o.dims_ && d1_.lb == o.d1_.lb && d1_.count == o.d1_.count &&
           d2_.lb == o.d2_.lb && d2_.count == o.d2_.count && data_ == o.data_;
  }

 private:
  struct Dim {
    int32_t lb = 0;
    int32_t count = 0;
  };

  static int32_t checkedCount(int32_t lb, int32_t ub) {
    int64_t n = static_cast<int64_t>(ub) - lb + 1;
    if (n < 0 || n > (1 << 28)) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    return static_cast<int32_t>(n);
  }
  void reset(int dims, Dim a, Dim b) {
    dims_ = dims;
    d1_ = a;
    d2_ = b;
    data_.assign(static_cast<size_t>(a.count) * static_cast<size_t>(dims == 2 ? b.count : 1), T{});
  }
  void assign1(std::vector<T> items) {
    dims_ = 1;
    d1_ = {0, static_cast<int32_t>(items.size())};
    d2_ = {};
    data_ = std::move(items);
  }
  const Dim& bounds(int dim) const {
    if (!allocated() || dim < 1 || dim > dims_) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    return dim == 1 ? d1_ : d2_;
  }
  static int32_t rel(const Dim& d, int32_t i) {
    int64_t k = static_cast<int64_t>(i) - d.lb;
    if (k < 0 || k >= d.count) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    return static_cast<int32_t>(k);
  }
  size_t offset1(int32_t i) const {
    if (dims_ != 1) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    return static_cast<size_t>(rel(d1_, i));
  }
  size_t offset2(int32_t i, int32_t j) const {
    if (dims_ != 2) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    return static_cast<size_t>(rel(d1_, i)) * static_cast<size_t>(d2_.count) + rel(d2_, j);
  }

  int dims_ = 0;
  Dim d1_, d2_;
  std::vector<T> data_;
};

// The upper bound of a dimension as a 16-bit loop bound. Members walk arrays with 16-bit
// counters: the platform's counter overflows on its last step past 32767, so a dimension of
// 32768 or more elements (upper bound 32767 and above) raises Overflow (6). It is raised
// here, before the loop starts, so that no partial work is done and an int16_t counter
// running `i <= loopUpper(a)` always terminates.
template <class T>
int16_t loopUpper(const SafeArray<T>& a, int dim = 1) {
  int32_t ub = a.ubound(dim);
  if (ub >= 32767 || ub < -32768) raiseRuntime(RuntimeError::Overflow);
  return static_cast<int16_t>(ub);
}

// A whole number stored into a 16-bit counter or count: Overflow (6) when it does not fit.
inline int16_t toInt16Checked(int64_t n) {
  if (n > 32767 || n < -32768) raiseRuntime(RuntimeError::Overflow);
  return static_cast<int16_t>(n);
}

}  // namespace ovt
