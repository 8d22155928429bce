#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <utility>

#include "platform/Folders.h"

namespace kevrale {

DynamicLibrary::~DynamicLibrary() {
  Close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary DynamicLibrary::Open(const std::string& path, std::string* error) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    if (error) *error = "no library name";
    return DynamicLibrary();
  }
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "the library could not be loaded";
  }
  return DynamicLibrary(handle);
}

bool DynamicLibrary::IsLoaded(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  void* address = dlsym(handle_, name);
  if (address == nullptr) return nullptr;
  // dlsym also searches the library's dependencies; keep only a definition
  // that lies in this library, as a module's own export table would.
  link_map* own = nullptr;
  if (dlinfo(handle_, RTLD_DI_LINKMAP, &own) != 0 || own == nullptr) return nullptr;
  Dl_info info{};
  link_map* found = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&found), RTLD_DL_LINKMAP) == 0)
    return nullptr;
  return found == own ? address : nullptr;
}

std::string DynamicLibrary::Path() const {
  if (handle_ == nullptr) return std::string();
  link_map* map = nullptr;
  if (dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
    return std::string();
  return AbsoluteName(map->l_name);
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) dlclose(std::exchange(handle_, nullptr));
}

}  // namespace kevrale
