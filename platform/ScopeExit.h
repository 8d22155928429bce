// Runs a function when a scope ends, however it ends. When the scope is
// left by an exception, an exception of the function itself is dropped so
// that the first one goes on; otherwise the function's exception leaves
// the scope as any other would.
#pragma once

#include <exception>
#include <utility>

namespace kevrale {

template <class F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)), in_flight_(std::uncaught_exceptions()) {}
  ~ScopeExit() noexcept(false) {
    if (std::uncaught_exceptions() > in_flight_) {
      try {
        f_();
      } catch (...) {
        // The error that is leaving the scope wins.
      }
    } else {
      f_();
    }
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
  int in_flight_;
};

}  // namespace kevrale
