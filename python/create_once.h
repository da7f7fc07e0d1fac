#pragma once

#include <Python.h>

#include <atomic>

namespace tarvik::py {

// Holds one process-wide object that is made at most once and then kept until the process ends.
// make() runs with the interpreter lock held, but it may let the lock go (any Python code can, a
// garbage collection with finalizers among it), so another thread can arrive while the object is
// under construction. That thread waits with the lock released: were it to wait holding the lock,
// the maker could never take the lock back to finish. A failed make() leaves the holder empty, so
// the next caller tries again.
class CreateOnce {
 public:
  // Borrowed reference (the object is never freed), or nullptr with an exception set. `make`
  // returns a new reference or nullptr with an exception set.
  template <class Make>
  PyObject* get(Make&& make) {
    for (;;) {
      if (PyObject* made = value_.load(std::memory_order_acquire)) {
        return made;
      }
      const unsigned long me = PyThread_get_thread_ident();
      int expected = kIdle;
      if (state_.compare_exchange_strong(expected, kBusy)) {
        maker_.store(me);
        PyObject* made = make();
        if (made != nullptr) {
          value_.store(made, std::memory_order_release);
        }
        maker_.store(0);
        state_.store(made != nullptr ? kDone : kIdle);
        state_.notify_all();
        return made;
      }
      if (expected == kBusy) {
        if (maker_.load() == me) {
          // make() reached itself again (through a finalizer, say): waiting would never end.
          PyErr_SetString(PyExc_RuntimeError, "tarvik_py: an object is used while it is created");
          return nullptr;
        }
        PyThreadState* saved = PyEval_SaveThread();
        state_.wait(kBusy);
        PyEval_RestoreThread(saved);
      }
    }
  }

 private:
  static constexpr int kIdle = 0;
  static constexpr int kBusy = 1;
  static constexpr int kDone = 2;

  std::atomic<int> state_{kIdle};
  std::atomic<unsigned long> maker_{0};
  std::atomic<PyObject*> value_{nullptr};
};

}  // namespace tarvik::py
