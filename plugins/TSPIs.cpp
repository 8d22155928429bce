#include "plugins/TSPIs.h"

#include <algorithm>
#include <string_view>

#include "picture/TPicture.h"
#include "platform/FileName.h"
#include "platform/Folders.h"
#include "platform/Format.h"
#include "platform/SusieSettings.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TAmSPI.h"
#include "plugins/TXnSPI.h"

namespace kevrale {

namespace {

TSPIs* g_global_spis = nullptr;
TGraphicClass g_default_graphic_class = nullptr;

[[noreturn]] void IndexError(int index) {
  throw EListError(
      Format("リストのインデックスが範囲を超えています (%d)", {std::to_string(index)}));
}

TSPIClass ClassForVersion(const std::string& version) {
  if (version == "00IN") return &TInSPI::Class;
  if (version == "00AM") return &TAmSPI::Class;
  if (version == "00XN") return &TXnSPI::Class;
  return &TSPI::Class;
}

}  // namespace

TSPIs::TSPIs() {
  if (g_global_spis != nullptr) throw ESPIDupCreateSPIs("TSPIs は複数生成できません");
  g_global_spis = this;
}

TSPIs::~TSPIs() {
  if (g_global_spis == this) g_global_spis = nullptr;
  Clear();
}

TSPIs* GlobalSPIs() {
  return g_global_spis;
}

void TSPIs::SetDefaultGraphicClass(TGraphicClass graphic_class) {
  g_default_graphic_class = graphic_class;
}

TGraphicClass TSPIs::DefaultGraphicClass() {
  return g_default_graphic_class;
}

void TSPIs::Loaded() {
  if (AutoSearch) Search("*.spi");
}

TSPI& TSPIs::Items(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return *modules_[size_t(index)];
}

void TSPIs::Insert(int index, std::unique_ptr<TSPI> spi) {
  if (index < 0 || index > Count()) IndexError(index);
  if (!spi) return;
  TSPI& module = *spi;
  modules_.insert(modules_.begin() + index, std::move(spi));
  if (auto* import = dynamic_cast<TInSPI*>(&module)) RegisterFormats(*import);
}

void TSPIs::Delete(int index) {
  if (index < 0 || index >= Count()) IndexError(index);
  const auto it = modules_.begin() + index;
  it->reset();  // the module goes before its place in the list
  modules_.erase(it);
}

void TSPIs::Clear() {
  while (Count() > 0) Delete(0);
}

int TSPIs::IndexOf(const std::string& file_name) const {
  for (size_t i = 0; i < modules_.size(); ++i)
    if (SameTextAscii(modules_[i]->FileName(), file_name)) return int(i);
  return -1;
}

void TSPIs::CollectSPIs(const std::vector<TSPIClass>& classes, const std::string& file_name,
                        std::vector<TSPI*>& list) const {
  const std::string_view extension = ExtractFileExt(file_name);
  for (const auto& module : modules_) {
    const TSPIClass kind = module->ClassType();
    if (std::none_of(classes.begin(), classes.end(),
                     [&](TSPIClass c) { return kind->InheritsFrom(c); }))
      continue;
    bool claims = false;
    if (!extension.empty()) {
      for (const std::string& filter : module->Extensions())
        if (SameTextAscii(ExtractFileExt(filter), extension)) claims = true;
    }
    if (claims)
      list.insert(list.begin(), module.get());
    else
      list.push_back(module.get());
  }
}

std::string TSPIs::PlaceFolder(TSPISearchOption option) const {
  switch (option) {
    case spsSusieDir:
      return SusiePluginFolder().value_or(std::string());
    case spsAppDir:
      return app_folder_ ? *app_folder_ : ProgramFolder();
    case spsCurrentDir:
      return CurrentFolder();
    case spsSystemDir:
    case spsWindowsDir:
      return std::string();  // there are no such folders here
  }
  return std::string();
}

void TSPIs::Search(const std::string& mask) {
  if (const std::string_view folder = ExtractFilePath(mask); !folder.empty()) {
    SearchFolder(std::string(folder), std::string(ExtractFileName(mask)));
    return;
  }
  for (TSPISearchOption option :
       {spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir}) {
    if (!SearchOptions.Contains(option)) continue;
    std::string folder = PlaceFolder(option);
    if (folder.empty()) continue;
    if (folder.back() != '/') folder += '/';
    SearchFolder(folder, mask);
  }
}

bool TSPIs::HoldsResolved(const std::string& resolved) const {
  return std::any_of(modules_.begin(), modules_.end(),
                     [&](const auto& m) { return ResolvedPath(m->FileName()) == resolved; });
}

std::unique_ptr<TSPI> TSPIs::MakeModule(const std::string& file_name) {
  try {
    return ModuleFactory ? ModuleFactory(file_name) : LoadSPI(file_name);
  } catch (const ESPIFOpenErrorSPI& e) {
    skipped_.push_back({file_name, e.ClassName(), e.Message(), e.Reason()});
  } catch (const ESPIInvalidSPI& e) {
    skipped_.push_back({file_name, e.ClassName(), e.Message(), e.Reason()});
  } catch (const ESPIInvalidAPI& e) {
    // A library of a folder shared with other programs that is no plug-in
    // of its kind: one unusable file must not stop every start.
    skipped_.push_back({file_name, e.ClassName(), e.Message(), e.Reason()});
  }
  return nullptr;
}

void TSPIs::SearchFolder(const std::string& folder, const std::string& mask) {
  // The whole listing is taken before any candidate is loaded. A file
  // reached again through another spelling of its path is one library.
  std::vector<std::pair<std::string, std::string>> candidates;  // full name, resolved
  for (const std::string& name : ListFolder(folder, mask)) {
    std::string full = folder + name;
    if (IndexOf(full) != -1) continue;
    std::string resolved = ResolvedPath(full);
    if (std::any_of(candidates.begin(), candidates.end(),
                    [&](const auto& c) { return c.second == resolved; }))
      continue;
    candidates.emplace_back(std::move(full), std::move(resolved));
  }

  for (const auto& [full, resolved] : candidates) {
    if (HoldsResolved(resolved)) continue;
    bool accept = true;
    if (OnSearching) OnSearching(*this, full, accept);
    if (!accept) continue;

    std::unique_ptr<TSPI> module = MakeModule(full);
    if (!module) continue;

    TSPI* const loaded = module.get();
    try {
      accept = true;
      if (OnSearch) OnSearch(*this, *module, accept);
      if (accept) Add(std::move(module));
      module.reset();
    } catch (...) {
      // A registration that fails inside Add leaves the module listed: take
      // it out, so that no freed module stays in the list.
      if (!module) {
        const auto it = std::find_if(modules_.begin(), modules_.end(),
                                     [&](const auto& m) { return m.get() == loaded; });
        if (it != modules_.end()) {
          it->reset();
          modules_.erase(it);
        }
      }
      module.reset();
    }
  }
}

void TSPIs::RegisterFormats(TInSPI& spi) {
  // Copies: a handler may do anything to the module list meanwhile.
  const std::vector<std::string> filters = spi.Extensions();
  const std::vector<std::string> descriptions = spi.Descriptions();
  const std::string plugin_file = spi.FileName();
  for (size_t i = 0; i < filters.size() && i < descriptions.size(); ++i) {
    // A kind that the handler chooses holds for the rest of this filter string.
    TGraphicClass graphic_class = g_default_graphic_class;
    const std::string& description = descriptions[i];
    std::string_view rest = filters[i];
    while (!rest.empty()) {
      const size_t semicolon = rest.find(';');
      const std::string_view piece = rest.substr(0, semicolon);
      rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
      // "*.jpg" gives "jpg"; a piece without a dot is taken whole.
      const size_t dot = piece.find('.');
      const std::string extension(dot == std::string_view::npos ? piece : piece.substr(dot + 1));
      if (extension.empty()) continue;  // ";;" or "*." claims nothing
      if (OnPictureRegister) OnPictureRegister(*this, spi, extension, description, graphic_class);
      if (graphic_class == nullptr) continue;
      TPicture::RegisterFileFormat(extension, description, graphic_class, plugin_file);
    }
  }
}

std::unique_ptr<TSPI> LoadSPI(const SpiSource& source) {
  // A plain module reads the version string; the kind it names opens the
  // library again (sharing the loaded copy) before the plain one goes.
  const auto probe = std::make_unique<TSPI>(source);
  return ClassForVersion(probe->APIVersion())->Create(source);
}

std::unique_ptr<TSPI> CreateSPI(const SpiSource& source) {
  try {
    return LoadSPI(source);
  } catch (const ESPIFOpenErrorSPI&) {
    return nullptr;
  } catch (const ESPIInvalidSPI&) {
    return nullptr;
  }
}

}  // namespace kevrale
