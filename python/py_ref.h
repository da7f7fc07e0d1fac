#pragma once

#include <Python.h>

#include <utility>

namespace tarvik::py {

// Owns one strong reference; steal() adopts a new reference, borrow() adds one. No implicit
// PyObject* conversion: an owner must not slip into a stealing API, so hand-offs say release().
class PyRef {
 public:
  PyRef() noexcept = default;
  static PyRef steal(PyObject* p) noexcept { return PyRef(p); }
  static PyRef borrow(PyObject* p) noexcept { return PyRef(Py_XNewRef(p)); }
  PyRef(PyRef&& o) noexcept : p_(o.release()) {}
  PyRef& operator=(PyRef&& o) noexcept {
    PyRef old(std::move(o));  // take the new reference first; ours is dropped last, when
    std::swap(p_, old.p_);    // `old` dies, since its __del__ may run arbitrary Python code
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  explicit PyRef(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace tarvik::py
