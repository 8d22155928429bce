// The graphic of an image that an import plug-in decoded: it holds the
// device-independent bitmap (DIB) exactly as the plug-in returned it, in the
// two memory blocks kept by its data source, renders it, decodes its rows
// straight into a bitmap (TSPIBitmap loads that way), and writes it out as
// a BMP file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/DibLayout.h"
#include "picture/TGraphic.h"
#include "plugins/TInSPIAbleData.h"

namespace kevrale {

class TBitmap;
class TMemoryStream;
class TSPIs;

// One entry of a logical palette, made from an RGB quad of a colour table.
struct TPaletteEntry {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
  bool operator==(const TPaletteEntry&) const = default;
};

// A logical palette (version 0x300); empty stands for no palette.
using TPalette = std::vector<TPaletteEntry>;

class TSPIGraphic : public TGraphic {
 public:
  static const TGraphicClassInfo Class;

  // A graphic made through its class descriptor decodes through the
  // program's host as it stands at each load (GlobalSPIs); code that holds
  // a host passes it.
  TSPIGraphic() = default;
  explicit TSPIGraphic(TSPIs* host) : host_(host), program_host_(false) {}
  ~TSPIGraphic() override;
  TSPIGraphic(const TSPIGraphic&) = delete;
  TSPIGraphic& operator=(const TSPIGraphic&) = delete;

  TGraphicClass ClassType() const override { return &Class; }

  // The width and height fields of the DIB's header as stored: a top-down
  // DIB has a negative height. 0 when empty.
  int Width() const override;
  int Height() const override;
  // No image: nothing decoded, or the image was freed.
  bool Empty() const override;
  // The size is the decoded image's; setting it does nothing.
  void SetWidth(int) {}
  void SetHeight(int) {}

  // Decode through the import plug-ins of the host; EDecodeFailed
  // "Susie Plugins could not decode", with each plug-in's answer, when none
  // of them does. On any error the graphic is left empty.
  void LoadFromFile(const std::string& path) override;
  void LoadFromStream(TStream& stream) override;
  // The stream with a name, whose extension lets the plug-ins that claim it
  // try first. The whole stream is decoded, from its first byte.
  virtual void LoadFromStreamWithName(TStream& stream, const std::string& file_name);

  // A BMP file: 14-byte file header, the info block and the pixel bits as
  // the plug-in returned them. An empty graphic raises EInvalidGraphic
  // "ビットマップイメージが不正です".
  void SaveToStream(TStream& stream) const override;
  // The DIB as it is drawn: 0xAARRGGBB, top row first, every pixel opaque.
  ArgbImage Render() const override;

  // The palette made from the DIB's colour table; empty when it has none.
  const TPalette& Palette() const;
  bool IsFourBit() const;
  // The bytes of the info block as written to a BMP (40 + 4 * ColorCount),
  // of the pixel bits, and the number of colour-table entries.
  uint32_t InfoSize() const;
  uint32_t ImageSize() const;
  uint32_t ColorCount() const;

  // The DIB's rows decoded into `bitmap` as the bitmap would read the BMP
  // form, without writing that form. An empty graphic raises
  // EInvalidGraphic "ビットマップイメージが不正です"; `bitmap` then keeps what
  // it held.
  void DecodeInto(TBitmap& bitmap) const;

  // A new graphic of `graphic_class` holding this image: a plain bitmap
  // decodes the rows (DecodeInto), any other kind reads the BMP form. This
  // graphic keeps its image.
  std::unique_ptr<TGraphic> ConvertTo(TGraphicClass graphic_class) const;
  // The same, but this graphic is emptied as soon as the new graphic has
  // its rows (or the BMP form is written, for other kinds): at most two
  // copies of the image exist at once, and a plain bitmap takes over rows
  // that a plug-in of this process stored in its layout instead of copying
  // them.
  std::unique_ptr<TGraphic> ConvertToAndFree(TGraphicClass graphic_class);

  // Frees the data source (and with it the plug-in's memory) and the palette.
  void FreeImage();

  // The data source, or nullptr when there is no image.
  TInSPIAbleData* Source() const { return source_.get(); }

  // The host whose plug-ins decode the next load.
  TSPIs* Host() const;
  void SetHost(TSPIs* host) {
    host_ = host;
    program_host_ = false;
  }

 private:
  // Makes room in `stream` for the whole BMP form of the image.
  void ReserveBmpSize(TMemoryStream& stream) const;
  // Hands the plug-in's rows over to `bitmap` where they already are the
  // bitmap's rows (24 bits, bottom-up) in writable memory of this process
  // (a plug-in loaded here): no copy. False, and nothing changed, else.
  bool AdoptRows(TBitmap& bitmap);

  // The facts of the held DIB and its palette, made once per image from
  // the layout that the data source's check computed.
  struct Info {
    DibLayout Layout;
    TPalette Palette;
    bool FourBit = false;
  };

  void DecodeSource();
  // Computes the facts of the DIB once per image.
  const Info& UpdateInfo() const;

  std::unique_ptr<TInSPIAbleData> source_;
  TSPIs* host_ = nullptr;
  bool program_host_ = true;
  mutable Info info_;
  mutable bool info_valid_ = false;
};

}  // namespace kevrale
