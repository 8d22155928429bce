// The bitmap kind that the plug-in host registers for every extension of an
// import plug-in. It loads through the plug-ins (a TSPIGraphic, whose rows
// it decodes) or through the plain BMP reader, whichever comes first
// for the name and succeeds, and ends as an ordinary bitmap.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "picture/LoadOutcome.h"
#include "picture/TBitmap.h"
#include "plugins/TSPIGraphic.h"

namespace kevrale {

class TSPIs;
class TStream;

using TSPILoadFromStreamWithNameEvent =
    std::function<void(TStream& stream, const std::string& file_name)>;

class TSPIBitmap : public TBitmap {
 public:
  // Its direct base kind is TBitmap::Class, the plain kind of its loads.
  static const TGraphicClassInfo Class;

  // A bitmap made through the format registry decodes through the
  // program's host as it stands at each load (GlobalSPIs); code that holds
  // a host passes it.
  TSPIBitmap() = default;
  explicit TSPIBitmap(TSPIs* host) : host_(host), program_host_(false) {}

  TGraphicClass ClassType() const override { return &Class; }

  // A name whose extension is ".bmp" (any case) is read by the plain BMP
  // reader first and then by the plug-ins, every other name the other way
  // round. A file that cannot be opened raises EFOpenError
  // "ファイル %s は開けません"; when neither reader takes it, EDecodeFailed
  // "Susie Plugins could not decode" with each reader's answer. The bitmap
  // then keeps what it held. Cancelling (EAbort), running out of memory and
  // the progress listener's own errors go on as they are. Either way the
  // load ends with one psEnding report "Loaded Graphic".
  void LoadFromFile(const std::string& path) override;
  // A nameless stream: the plug-ins first.
  void LoadFromStream(TStream& stream) override;
  virtual void LoadFromStreamWithName(TStream& stream, const std::string& file_name);

  // Takes the image of any graphic: a TSPIGraphic's rows are decoded and
  // it keeps its image; a bitmap is copied; anything else is
  // taken as it renders.
  virtual void Assign(const TGraphic& source);
  // Takes over the graphic that a load attempt produced (a TSPIGraphic or a
  // plain bitmap) and frees it; none raises EDecodeFailed
  // "Susie Plugins could not decode" with the readers' answers.
  virtual void AssignLoaded(std::unique_ptr<TGraphic> graphic, LoadOutcome outcome = {});

  // Loads the stream under the name; assigning another handler does nothing.
  TSPILoadFromStreamWithNameEvent OnLoadFromStreamWithName();
  void SetOnLoadFromStreamWithName(const TSPILoadFromStreamWithNameEvent&) {}

  // The palette of a 4-bit image decoded by a plug-in: a copy of its colour
  // table. The pixels themselves are held in full colour, so the palette is
  // data beside them; it is empty for every other image.
  const TPalette& Palette() const { return palette_; }
  void SetPalette(TPalette palette) { palette_ = std::move(palette); }

  // The host whose plug-ins the next load tries.
  TSPIs* Host() const;

  // Passes the reports of an inner load attempt on as this bitmap's own,
  // except its closing psEnding report.
  void RelayProgress(TGraphic& sender, TProgressStage stage, uint8_t percent_done, bool redraw_now,
                     const TRect& r, const std::string& msg);

 private:
  TProgressEvent Relay();
  void FinishLoad();
  void AssignBitmap(const TBitmap& bitmap);

  TPalette palette_;
  TSPIs* host_ = nullptr;
  bool program_host_ = true;
};

// The two kinds in the order to try: the second first when `prefer_second`.
std::pair<TGraphicClass, TGraphicClass> OrderClasses(TGraphicClass first, TGraphicClass second,
                                                     bool prefer_second);

// The first graphic of the two kinds (ordered by OrderClasses) that loads the
// file, or nullptr with each reader's answer in `outcome`. Only a reader
// that does not take the data (or cannot open it) is passed over; any other
// error leaves. A plug-in graphic decodes through `host`.
std::unique_ptr<TGraphic> TryLoadFromFile(TGraphicClass plugin_class, const std::string& path,
                                          TGraphicClass plain_class, bool prefer_plain,
                                          const TProgressEvent& progress, TSPIs* host,
                                          LoadOutcome& outcome, const TLoadLimits& limits = {});
// The same for a stream: the plug-in kind loads it with its name, the plain
// kind from the current position, which is restored after a failed attempt.
std::unique_ptr<TGraphic> TryLoadFromStream(TGraphicClass plugin_class, TStream& stream,
                                            const std::string& file_name, TGraphicClass plain_class,
                                            bool prefer_plain, const TProgressEvent& progress,
                                            TSPIs* host, LoadOutcome& outcome,
                                            const TLoadLimits& limits = {});

}  // namespace kevrale
