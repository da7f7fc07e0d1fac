#pragma once

namespace tarvik {

// Builds one visitor for std::visit from several lambdas, one per alternative.
template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace tarvik
