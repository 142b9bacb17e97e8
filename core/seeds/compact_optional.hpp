#pragma once
// CompactOptional<T>: an optional value held behind one pointer, so that a
// record kept by the million costs 8 bytes while the value is absent (the usual
// case for seed templates) and allocates only when a value is present.
// Copies are deep; comparison is by value.

#include <memory>
#include <optional>
#include <utility>

namespace vorn {

template <typename T>
class CompactOptional {
  public:
    CompactOptional() = default;
    CompactOptional(std::nullopt_t) {}
    CompactOptional(const std::optional<T>& value)
        : ptr_(value ? std::make_unique<T>(*value) : nullptr) {}
    CompactOptional(std::optional<T>&& value)
        : ptr_(value ? std::make_unique<T>(std::move(*value)) : nullptr) {}
    CompactOptional(const CompactOptional& other)
        : ptr_(other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr) {}
    CompactOptional(CompactOptional&&) noexcept = default;
    CompactOptional& operator=(const CompactOptional& other) {
        if (this != &other)
            ptr_ = other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr;
        return *this;
    }
    CompactOptional& operator=(CompactOptional&&) noexcept = default;

    bool has_value() const { return ptr_ != nullptr; }
    explicit operator bool() const { return has_value(); }
    // Only while a value is present.
    const T& operator*() const { return *ptr_; }
    T& operator*() { return *ptr_; }
    const T* operator->() const { return ptr_.get(); }
    T* operator->() { return ptr_.get(); }

    // The same value as a std::optional; the rvalue form moves it out.
    operator std::optional<T>() const& { return ptr_ ? std::optional<T>(*ptr_) : std::nullopt; }
    operator std::optional<T>() && {
        return ptr_ ? std::optional<T>(std::move(*ptr_)) : std::nullopt;
    }

    friend bool operator==(const CompactOptional& a, const CompactOptional& b) {
        return a.ptr_ && b.ptr_ ? *a.ptr_ == *b.ptr_ : a.ptr_ == b.ptr_;
    }
    friend bool operator==(const CompactOptional& a, const std::optional<T>& b) {
        return a.ptr_ && b ? *a.ptr_ == *b : a.has_value() == b.has_value();
    }

  private:
    std::unique_ptr<T> ptr_;
};

}  // namespace vorn
