#pragma once

#include <utility>
#include <variant>

namespace tarvik {

// Marks the failure side of a Result, so that `return Err{e};` reads as what it is.
template <class E>
struct Err {
  E error;
};
template <class E>
Err(E) -> Err<E>;

// A value or the reason there is none; shaped like std::expected so that moving to it later is
// mechanical.
template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  template <class F>
  Result(Err<F> e) : v_(std::in_place_index<1>, E(std::move(e.error))) {}

  bool has_value() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return has_value(); }

  // Precondition for value(): has_value(); for error(): !has_value().
  T& value() & { return *std::get_if<0>(&v_); }
  const T& value() const& { return *std::get_if<0>(&v_); }
  T&& value() && { return std::move(*std::get_if<0>(&v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const E& error() const& { return *std::get_if<1>(&v_); }
  E&& error() && { return std::move(*std::get_if<1>(&v_)); }

  friend bool operator==(const Result&, const Result&) = default;

 private:
  std::variant<T, E> v_;
};

// The failure-only form: success carries nothing.
struct Ok {
  friend bool operator==(Ok, Ok) = default;
};

}  // namespace tarvik
