// The plug-in host: finds, loads and keeps the Susie plug-in libraries of
// the program, and enters the formats of its import plug-ins in the
// picture's format registry. One host lives at a time (GlobalSPIs).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/TGraphic.h"
#include "plugins/TInSPI.h"
#include "plugins/TSPI.h"
#include "plugins/TSPISearchOptions.h"

namespace kevrale {

class TSPIs;

// Asked whether to keep a module that a search has just loaded.
using TSPISearchEvent = std::function<void(TSPIs& sender, TSPI& aspi, bool& accept)>;
// Asked whether to load a library file that a search has found.
using TSPISearchingEvent =
    std::function<void(TSPIs& sender, const std::string& file_name, bool& accept)>;
// Told of each format registration; may change the graphic kind or set it to
// none to leave the extension out.
using TSPIPictureRegisterEvent =
    std::function<void(TSPIs& sender, TInSPI& aspi, const std::string& extension,
                       const std::string& description, TGraphicClass& graphic_class)>;
// Makes the module of a library file that a search has found, as LoadSPI
// does: raises ESPIFOpenErrorSPI, ESPIInvalidSPI or ESPIInvalidAPI for a
// library that cannot be used.
using TSPIModuleFactory = std::function<std::unique_ptr<TSPI>(const std::string& file_name)>;

// A library that a search found and could not use.
struct TSPISkipped {
  std::string FileName;    // the full name the search formed
  std::string ErrorClass;  // "ESPIInvalidAPI", ...
  std::string Message;     // the error's message
  std::string Reason;      // what the loader or the system said; may be empty

  // The message, and the reason after it where there is one.
  std::string Text() const { return Reason.empty() ? Message : Message + ": " + Reason; }
};

class TSPIs {
 public:
  // Raises ESPIDupCreateSPIs "TSPIs は複数生成できません" while another host
  // lives; that host stays the global one.
  TSPIs();
  // Frees every module, first to last.
  ~TSPIs();
  TSPIs(const TSPIs&) = delete;
  TSPIs& operator=(const TSPIs&) = delete;

  // The step after the host's settings are in place: searches "*.spi" when
  // AutoSearch is on.
  void Loaded();

  // Loads the plug-in libraries that `mask` finds. A mask with a folder part
  // ("/opt/spi/*.spi") searches that folder only; a bare mask visits the
  // places of SearchOptions in their order. A library that cannot be used
  // (it does not load, lacks an entry point of its kind, or its process
  // does not start) is skipped and kept in Skipped(); the search goes on.
  // A library already loaded under another spelling of its path (a
  // symbolic link, "//", "./") is not loaded again.
  void Search(const std::string& mask);

  // The libraries that searches could not use, in the order met.
  const std::vector<TSPISkipped>& Skipped() const { return skipped_; }

  int Count() const { return int(modules_.size()); }
  // The module at 0 .. Count() - 1; EListError for any other index.
  TSPI& Items(int index) const;
  void Add(std::unique_ptr<TSPI> spi) { Insert(Count(), std::move(spi)); }
  // Puts the module at `index` (0 .. Count()); the host owns it from then on.
  // The formats of an import module are registered.
  void Insert(int index, std::unique_ptr<TSPI> spi);
  // Frees the module at `index`, which releases its library; its formats stay
  // registered.
  void Delete(int index);
  void Clear();
  // The first module whose FileName equals `file_name`, ASCII letters
  // compared without case; -1 when none.
  int IndexOf(const std::string& file_name) const;

  // Appends to `list` the modules of the given kinds (or kinds derived from
  // them) to try for a file: those whose filter strings claim the
  // extension of `file_name` go to the front, each in front of the earlier
  // ones; the others follow in list order. `list` does not own them.
  void CollectSPIs(const std::vector<TSPIClass>& classes, const std::string& file_name,
                   std::vector<TSPI*>& list) const;

  // The graphic kind registered for every extension of an import plug-in;
  // none at first, and none registers nothing.
  static void SetDefaultGraphicClass(TGraphicClass graphic_class);
  static TGraphicClass DefaultGraphicClass();

  // Makes spsAppDir name `folder` instead of the program's own folder (tests
  // run from a fixed folder of their own); nothing restores the program's.
  void SetAppFolder(std::optional<std::string> folder) { app_folder_ = std::move(folder); }

  // Read by the decoding at each load: also try each plug-in on the data
  // after a 128-byte MacBinary header.
  bool MacBinary = true;
  // Read by the decoding at each load: ask for the plug-in's preview first.
  bool GraphicPreview = false;
  // Whether Loaded searches.
  bool AutoSearch = true;
  TSPISearchOptions SearchOptions{spsSusieDir, spsAppDir};
  TSPISearchEvent OnSearch;
  TSPISearchingEvent OnSearching;
  TSPIPictureRegisterEvent OnPictureRegister;
  // How a search makes a module; empty: the library loaded into this
  // process (LoadSPI).
  TSPIModuleFactory ModuleFactory;

 private:
  // The folder of a search place, without or with its trailing "/"; empty
  // when the place gives none.
  std::string PlaceFolder(TSPISearchOption option) const;
  void SearchFolder(const std::string& folder, const std::string& mask);
  // Whether a module's library is the file that `resolved` names.
  bool HoldsResolved(const std::string& resolved) const;
  std::unique_ptr<TSPI> MakeModule(const std::string& file_name);
  void RegisterFormats(TInSPI& spi);

  std::vector<std::unique_ptr<TSPI>> modules_;
  std::vector<TSPISkipped> skipped_;
  std::optional<std::string> app_folder_;
};

// The live host, or nullptr.
TSPIs* GlobalSPIs();

// Loads one library as the module kind its version string names ("00IN"
// import, "00AM" archive, "00XN", anything else a plain TSPI). nullptr when
// the library cannot be loaded (ESPIFOpenErrorSPI, ESPIInvalidSPI);
// ESPIInvalidAPI when it lacks an entry point that its kind requires.
std::unique_ptr<TSPI> CreateSPI(const SpiSource& source);

// As CreateSPI, but a library that cannot be loaded raises its error.
std::unique_ptr<TSPI> LoadSPI(const SpiSource& source);

}  // namespace kevrale
