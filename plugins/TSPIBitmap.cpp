#include "plugins/TSPIBitmap.h"

#include "picture/BmpReader.h"
#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Format.h"
#include "platform/ScopeExit.h"
#include "platform/Stream.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TSPIs.h"

namespace kevrale {

const TGraphicClassInfo TSPIBitmap::Class("TSPIBitmap", &TBitmap::Class,
                                          &MakeInstance<TSPIBitmap, TGraphic>);

namespace {

// The name of the program's own reader in an outcome.
constexpr char kBmpReader[] = "BMP";

// Whether the extension of the file-name part, ASCII letters upper-cased,
// is exactly ".BMP".
bool HasBmpExtension(const std::string& name) {
  return AsciiUpperCase(ExtractFileExt(name)) == ".BMP";
}

}  // namespace

std::pair<TGraphicClass, TGraphicClass> OrderClasses(TGraphicClass first, TGraphicClass second,
                                                     bool prefer_second) {
  if (prefer_second) return {second, first};
  return {first, second};
}

namespace {

// The name of a reader in an outcome: the program's own BMP reader, or the
// kind's class name.
std::string ReaderName(TGraphicClass kind) {
  return kind->InheritsFrom(&TBitmap::Class) ? kBmpReader : kind->Name();
}

// Tries the two kinds in order, each with `load`; `after_failure` puts the
// input back for the next one. Only "this reader does not take it" (and a
// file it cannot open) is absorbed, with its reason in `outcome`.
std::unique_ptr<TGraphic> TryLoad(
    TGraphicClass plugin_class, TGraphicClass plain_class, bool prefer_plain,
    const TProgressEvent& progress, const TLoadLimits& limits, TSPIs* host, LoadOutcome& outcome,
    const std::function<void(TGraphic& graphic, bool as_plugin)>& load,
    const std::function<void()>& after_failure) {
  const auto [first, second] = OrderClasses(plugin_class, plain_class, prefer_plain);
  for (TGraphicClass kind : {first, second}) {
    if (kind == nullptr) continue;
    std::unique_ptr<TGraphic> graphic = kind->Create();
    if (!graphic) continue;
    graphic->OnProgress = progress;
    graphic->Limits = limits;
    auto* plugin_graphic =
        kind == plugin_class ? dynamic_cast<TSPIGraphic*>(graphic.get()) : nullptr;
    if (plugin_graphic != nullptr) plugin_graphic->SetHost(host);
    try {
      load(*graphic, plugin_graphic != nullptr);
      return graphic;
    } catch (const EDecodeFailed& e) {
      outcome.Append(e.Outcome());
    } catch (const EInvalidBmp& e) {
      const LoadFailure failure = e.Reason() == BmpRefusal::Signature ? LoadFailure::NotThisFormat
                                                                      : LoadFailure::BrokenData;
      outcome.Add({ReaderName(kind), failure, 0, BmpRefusalText(e.Reason())});
    } catch (const EInvalidGraphic& e) {
      outcome.Add({ReaderName(kind), LoadFailure::NotThisFormat, 0, e.what()});
    } catch (const EStreamError& e) {
      // The file cannot be opened, or reading it fails.
      outcome.Add({ReaderName(kind), LoadFailure::CannotOpen, 0, e.Reason(), e.ErrorNumber()});
    }
    after_failure();
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<TGraphic> TryLoadFromFile(TGraphicClass plugin_class, const std::string& path,
                                          TGraphicClass plain_class, bool prefer_plain,
                                          const TProgressEvent& progress, TSPIs* host,
                                          LoadOutcome& outcome, const TLoadLimits& limits) {
  return TryLoad(
      plugin_class, plain_class, prefer_plain, progress, limits, host, outcome,
      [&](TGraphic& graphic, bool) { graphic.LoadFromFile(path); }, [] {});
}

std::unique_ptr<TGraphic> TryLoadFromStream(TGraphicClass plugin_class, TStream& stream,
                                            const std::string& file_name, TGraphicClass plain_class,
                                            bool prefer_plain, const TProgressEvent& progress,
                                            TSPIs* host, LoadOutcome& outcome,
                                            const TLoadLimits& limits) {
  const int64_t position = stream.Position();
  return TryLoad(
      plugin_class, plain_class, prefer_plain, progress, limits, host, outcome,
      [&](TGraphic& graphic, bool as_plugin) {
        if (as_plugin)
          static_cast<TSPIGraphic&>(graphic).LoadFromStreamWithName(stream, file_name);
        else
          graphic.LoadFromStream(stream);
      },
      [&] { stream.SetPosition(position); });
}

TSPIs* TSPIBitmap::Host() const {
  return program_host_ ? GlobalSPIs() : host_;
}

TProgressEvent TSPIBitmap::Relay() {
  return [this](TGraphic& sender, TProgressStage stage, uint8_t percent_done, bool redraw_now,
                const TRect& r, const std::string& msg) {
    RelayProgress(sender, stage, percent_done, redraw_now, r, msg);
  };
}

void TSPIBitmap::RelayProgress(TGraphic&, TProgressStage stage, uint8_t percent_done,
                               bool redraw_now, const TRect& r, const std::string& msg) {
  // The inner load's closing report is dropped: FinishLoad closes this load.
  if (stage != psEnding) Progress(stage, percent_done, redraw_now, r, msg);
}

void TSPIBitmap::FinishLoad() {
  Progress(psEnding, 100, true, TRect{0, 0, Width(), Height()}, "Loaded Graphic");
}

void TSPIBitmap::LoadFromFile(const std::string& path) {
  // The closing report comes however the load ends.
  const ScopeExit finish([this] { FinishLoad(); });
  LoadOutcome outcome;
  std::unique_ptr<TGraphic> loaded =
      TryLoadFromFile(&TSPIGraphic::Class, path, ClassType()->Parent(), HasBmpExtension(path),
                      Relay(), Host(), outcome, Limits);
  if (!loaded) {
    // A file that no reader could open is reported as such, whatever its
    // extension: "could not decode" would name the wrong cause.
    for (const LoadAttempt& a : outcome.Attempts)
      if (a.Reader == kBmpReader && a.Failure == LoadFailure::CannotOpen)
        throw EFOpenError(Format("ファイル %s は開けません", {path}), a.ErrorNumber);
  }
  AssignLoaded(std::move(loaded), std::move(outcome));
}

void TSPIBitmap::LoadFromStream(TStream& stream) {
  LoadFromStreamWithName(stream, std::string());
}

void TSPIBitmap::LoadFromStreamWithName(TStream& stream, const std::string& file_name) {
  const ScopeExit finish([this] { FinishLoad(); });
  LoadOutcome outcome;
  std::unique_ptr<TGraphic> loaded =
      TryLoadFromStream(&TSPIGraphic::Class, stream, file_name, ClassType()->Parent(),
                        HasBmpExtension(file_name), Relay(), Host(), outcome, Limits);
  AssignLoaded(std::move(loaded), std::move(outcome));
}

TSPILoadFromStreamWithNameEvent TSPIBitmap::OnLoadFromStreamWithName() {
  return [this](TStream& stream, const std::string& file_name) {
    LoadFromStreamWithName(stream, file_name);
  };
}

void TSPIBitmap::AssignBitmap(const TBitmap& bitmap) {
  TBitmap::operator=(bitmap);
  const auto* plugin_bitmap = dynamic_cast<const TSPIBitmap*>(&bitmap);
  if (plugin_bitmap != this) palette_ = plugin_bitmap ? plugin_bitmap->palette_ : TPalette();
}

void TSPIBitmap::Assign(const TGraphic& source) {
  if (const auto* plugin_graphic = dynamic_cast<const TSPIGraphic*>(&source)) {
    if (ClassType()->Parent() == &TBitmap::Class) {
      // The rows are decoded straight into this bitmap.
      plugin_graphic->DecodeInto(*this);
      palette_.clear();
    } else {
      Assign(*plugin_graphic->ConvertTo(ClassType()->Parent()));
    }
    if (plugin_graphic->IsFourBit()) SetPalette(plugin_graphic->Palette());
  } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
    AssignBitmap(*bitmap);
  } else {
    AssignImage(source.Render());
    palette_.clear();
  }
}

void TSPIBitmap::AssignLoaded(std::unique_ptr<TGraphic> graphic, LoadOutcome outcome) {
  if (!graphic) throw EDecodeFailed(kCouldNotDecode, std::move(outcome));
  if (auto* plugin_graphic = dynamic_cast<TSPIGraphic*>(graphic.get())) {
    TPalette palette;
    const bool four_bit = plugin_graphic->IsFourBit();
    if (four_bit) palette = plugin_graphic->Palette();
    const std::unique_ptr<TGraphic> converted =
        plugin_graphic->ConvertToAndFree(ClassType()->Parent());
    // The converted bitmap is ours alone: its pixels are taken, not copied.
    if (converted->ClassType() == &TBitmap::Class) {
      Swap(static_cast<TBitmap&>(*converted));
      palette_.clear();
    } else {
      Assign(*converted);
    }
    if (four_bit) SetPalette(std::move(palette));
  } else {
    Assign(*graphic);
  }
}

}  // namespace kevrale
