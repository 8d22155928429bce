// A loaded shared library (dlopen) behind a move-only owner. Loading the
// same file twice gives the same native handle with a reference count, so
// each owner releases only its own reference.
#pragma once

#include <string>

namespace kevrale {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library with every symbol bound now and none made global. A
  // failure gives an empty owner and, when `error` is given, the loader's
  // reason. An empty name never loads (the loader would hand back the
  // program itself).
  static DynamicLibrary Open(const std::string& path, std::string* error = nullptr);

  // True when `path` names a library that is loaded at the moment; loads
  // nothing.
  static bool IsLoaded(const std::string& path);

  bool IsOpen() const { return handle_ != nullptr; }
  explicit operator bool() const { return IsOpen(); }

  // The native handle, shared by every owner of the same library.
  void* Handle() const { return handle_; }

  // The address of a symbol that this library itself defines, or nullptr.
  // Symbols of the libraries it depends on are not its own and are not found.
  void* Symbol(const char* name) const;

  // The path of the library as the loader records it, made absolute against
  // the current folder when the loader kept a relative one; empty when the
  // loader reports none.
  std::string Path() const;

  // Releases this owner's reference.
  void Close();

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace kevrale
