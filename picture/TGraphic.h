// The abstract graphic: something with a size that loads from and saves to
// a stream, reports loading progress and renders itself for display.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "picture/ArgbImage.h"
#include "platform/ClassInfo.h"

namespace kevrale {

class TGraphic;
class TStream;

// Graphic kinds chosen at run time (the format registry) are named by their
// class descriptor.
using TGraphicClassInfo = ClassInfo<TGraphic>;
using TGraphicClass = const TGraphicClassInfo*;

enum TProgressStage { psStarting, psRunning, psEnding };

struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// What a load may refuse before it decodes the pixels: a picture wider than
// MaxWidth (when above 0) raises EPictureTooWide with TooWideMessage as
// soon as the width is known (a BMP header, a plug-in's picture
// information). The command line sets it; the desktop program loads every
// size.
struct TLoadLimits {
  int MaxWidth = 0;
  std::string TooWideMessage;
};

using TProgressEvent =
    std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percent_done,
                       bool redraw_now, const TRect& r, const std::string& msg)>;

class TGraphic {
 public:
  static const TGraphicClassInfo Class;

  virtual ~TGraphic() = default;
  virtual TGraphicClass ClassType() const = 0;

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual bool Empty() const { return Width() == 0 || Height() == 0; }

  // Opens the file (EFOpenError "ファイル %s は開けません") and decodes it.
  virtual void LoadFromFile(const std::string& path);
  virtual void LoadFromStream(TStream& stream) = 0;
  // The save routine of every front end: writes the graphic in the format
  // that the name calls for (SaveToStreamFor) through SaveFileWith,
  // which keeps the name naming what it named and leaves an existing file
  // intact when the save fails. Raises EFCreateError
  // "ファイル %s を作成できません", with the system's reason as its Reason(),
  // when the file cannot be made or written.
  void SaveToFile(const std::string& path) const;
  // The same, to the process's standard output ("-" in messages), as BMP.
  void SaveToStandardOutput() const;
  // Writes the graphic in its own format.
  virtual void SaveToStream(TStream& stream) const = 0;
  // Writes the graphic in the format that `file_name` calls for; a graphic
  // with only one format writes that one.
  virtual void SaveToStreamFor(TStream& stream, const std::string& file_name) const;

  // The picture as 0xAARRGGBB pixels, top row first, for display.
  virtual ArgbImage Render() const = 0;

  TProgressEvent OnProgress;
  // Set before a load; see TLoadLimits.
  TLoadLimits Limits;

 protected:
  void Progress(TProgressStage stage, uint8_t percent_done, bool redraw_now, const TRect& r,
                const std::string& msg);
};

}  // namespace kevrale
