// A small class descriptor for kinds chosen at run time: graphic kinds in the
// picture's format registry and plug-in module kinds in the plug-in host.
// Each descriptor has a name, the descriptor of its direct base kind and a
// factory (none for an abstract kind).
#pragma once

#include <memory>

namespace kevrale {

template <class Base, class... Args>
class ClassInfo {
 public:
  using Factory = std::unique_ptr<Base> (*)(Args...);

  constexpr ClassInfo(const char* name, const ClassInfo* parent, Factory factory)
      : name_(name), parent_(parent), factory_(factory) {}
  ClassInfo(const ClassInfo&) = delete;
  ClassInfo& operator=(const ClassInfo&) = delete;

  const char* Name() const { return name_; }
  const ClassInfo* Parent() const { return parent_; }
  bool CanCreate() const { return factory_ != nullptr; }

  // True when this kind is `other` or derives from it.
  bool InheritsFrom(const ClassInfo* other) const {
    for (const ClassInfo* c = this; c != nullptr; c = c->parent_)
      if (c == other) return true;
    return false;
  }

  // Creates an object of this kind; nullptr for an abstract kind.
  std::unique_ptr<Base> Create(Args... args) const {
    return factory_ ? factory_(std::forward<Args>(args)...) : nullptr;
  }

 private:
  const char* name_;
  const ClassInfo* parent_;
  Factory factory_;
};

// The factory of a concrete kind T constructed from Args.
template <class T, class Base, class... Args>
std::unique_ptr<Base> MakeInstance(Args... args) {
  return std::make_unique<T>(std::forward<Args>(args)...);
}

}  // namespace kevrale
