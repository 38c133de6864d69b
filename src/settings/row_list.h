#pragma once

#include <cstddef>
#include <initializer_list>

namespace kestrune {

// A short list held inside a row, so that the rows stay constant data.
template <typename T, size_t Capacity>
class RowList {
  public:
    constexpr RowList() = default;
    constexpr RowList(std::initializer_list<T> values) {
        for (const T& v : values) items_[count_++] = v;  // overflowing is a compile error
    }
    constexpr const T* begin() const { return items_; }
    constexpr const T* end() const { return items_ + count_; }
    constexpr size_t size() const { return count_; }
    constexpr bool empty() const { return count_ == 0; }
    constexpr const T& operator[](size_t i) const { return items_[i]; }

  private:
    T items_[Capacity]{};
    size_t count_ = 0;
};

}  // namespace kestrune
