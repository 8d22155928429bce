#include "plugins/TSPIBitmap.h"

#include "platform/Exception.h"
#include "platform/FileName.h"
#include "platform/Stream.h"

namespace kevrale {

const TGraphicClassInfo TSPIBitmap::Class("TSPIBitmap", &TBitmap::Class,
                                          &MakeInstance<TSPIBitmap, TGraphic>);

namespace {

constexpr char kCouldNotDecode[] = "Susie Plugins could not decode";

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

std::unique_ptr<TGraphic> TryLoadFromFile(TGraphicClass plugin_class, const std::string& path,
                                          TGraphicClass plain_class, bool prefer_plain,
                                          const TProgressEvent& progress) {
  const auto [first, second] = OrderClasses(plugin_class, plain_class, prefer_plain);
  for (TGraphicClass kind : {first, second}) {
    if (kind == nullptr) continue;
    try {
      std::unique_ptr<TGraphic> graphic = kind->Create();
      if (!graphic) continue;
      graphic->OnProgress = progress;
      graphic->LoadFromFile(path);
      return graphic;
    } catch (...) {
      // This kind does not read the file; the other one may.
    }
  }
  return nullptr;
}

std::unique_ptr<TGraphic> TryLoadFromStream(TGraphicClass plugin_class, TStream& stream,
                                            const std::string& file_name, TGraphicClass plain_class,
                                            bool prefer_plain, const TProgressEvent& progress) {
  const int64_t position = stream.Position();
  const auto [first, second] = OrderClasses(plugin_class, plain_class, prefer_plain);
  for (TGraphicClass kind : {first, second}) {
    if (kind == nullptr) continue;
    try {
      std::unique_ptr<TGraphic> graphic = kind->Create();
      if (!graphic) continue;
      graphic->OnProgress = progress;
      auto* plugin_graphic =
          kind == plugin_class ? dynamic_cast<TSPIGraphic*>(graphic.get()) : nullptr;
      if (plugin_graphic != nullptr)
        plugin_graphic->LoadFromStreamWithName(stream, file_name);
      else
        graphic->LoadFromStream(stream);
      return graphic;
    } catch (...) {
      stream.SetPosition(position);
    }
  }
  return nullptr;
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
  try {
    AssignLoaded(TryLoadFromFile(&TSPIGraphic::Class, path, ClassType()->Parent(),
                                 HasBmpExtension(path), Relay()));
  } catch (...) {
    FinishLoad();
    throw;
  }
  FinishLoad();
}

void TSPIBitmap::LoadFromStream(TStream& stream) {
  LoadFromStreamWithName(stream, std::string());
}

void TSPIBitmap::LoadFromStreamWithName(TStream& stream, const std::string& file_name) {
  try {
    AssignLoaded(TryLoadFromStream(&TSPIGraphic::Class, stream, file_name, ClassType()->Parent(),
                                   HasBmpExtension(file_name), Relay()));
  } catch (...) {
    FinishLoad();
    throw;
  }
  FinishLoad();
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
    const std::unique_ptr<TGraphic> converted = plugin_graphic->ConvertTo(ClassType()->Parent());
    Assign(*converted);
    if (plugin_graphic->IsFourBit()) SetPalette(plugin_graphic->Palette());
  } else if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
    AssignBitmap(*bitmap);
  } else {
    AssignImage(source.Render());
    palette_.clear();
  }
}

void TSPIBitmap::AssignLoaded(std::unique_ptr<TGraphic> graphic) {
  if (!graphic) throw EInvalidGraphic(kCouldNotDecode);
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
