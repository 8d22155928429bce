#include "plugins/TSPIGraphic.h"

#include <cstring>

#include "picture/DibRowDecoder.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/LargeBlock.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"
#include "plugins/TInSPIAbleFromFile.h"
#include "plugins/TInSPIAbleFromStream.h"
#include "plugins/TSPIs.h"

namespace kevrale {

const TGraphicClassInfo TSPIGraphic::Class("TSPIGraphic", &TGraphic::Class,
                                           &MakeInstance<TSPIGraphic, TGraphic>);

namespace {

constexpr char kCouldNotDecode[] = "Susie Plugins could not decode";

constexpr uint32_t kBiBitfields = 3;
// The red, green, blue and alpha masks that follow a 40-byte header.
constexpr uint32_t kAlphaMasksSize = 16;

// Whether any fourth byte of the 32-bit pixels is not 0 (rows of 32-bit
// pixels need no padding, so the bytes are every fourth of the block).
bool FourthByteUsed(const uint8_t* bits, size_t size) {
  for (size_t i = 3; i < size; i += 4)
    if (bits[i] != 0) return true;
  return false;
}

std::unique_ptr<TGraphic> NewGraphic(TGraphicClass graphic_class) {
  std::unique_ptr<TGraphic> graphic = graphic_class ? graphic_class->Create() : nullptr;
  if (!graphic) throw EInvalidGraphicOperation("ビットマップイメージが不正です");
  return graphic;
}

}  // namespace

TSPIs* TSPIGraphic::Host() const {
  return program_host_ ? GlobalSPIs() : host_;
}

TSPIGraphic::~TSPIGraphic() {
  FreeImage();
}

bool TSPIGraphic::Empty() const {
  return !source_ || source_->IsEmpty();
}

int TSPIGraphic::Width() const {
  return UpdateInfo().Layout.Width;
}
int TSPIGraphic::Height() const {
  return UpdateInfo().Layout.Height;
}
const TPalette& TSPIGraphic::Palette() const {
  return UpdateInfo().Palette;
}
bool TSPIGraphic::IsFourBit() const {
  return UpdateInfo().FourBit;
}
uint32_t TSPIGraphic::InfoSize() const {
  return UpdateInfo().Layout.InfoSize;
}
uint32_t TSPIGraphic::ImageSize() const {
  return UpdateInfo().Layout.ImageSize;
}
uint32_t TSPIGraphic::ColorCount() const {
  return UpdateInfo().Layout.ColorCount;
}

void TSPIGraphic::FreeImage() {
  source_.reset();
  info_ = Info{};
  info_valid_ = false;
}

void TSPIGraphic::LoadFromFile(const std::string& path) {
  FreeImage();
  source_ = std::make_unique<TInSPIAbleFromFile>(this, Host(), path);
  DecodeSource();
}

void TSPIGraphic::LoadFromStream(TStream& stream) {
  LoadFromStreamWithName(stream, std::string());
}

void TSPIGraphic::LoadFromStreamWithName(TStream& stream, const std::string& file_name) {
  FreeImage();
  source_ = std::make_unique<TInSPIAbleFromStream>(this, Host(), file_name, stream);
  DecodeSource();
}

void TSPIGraphic::DecodeSource() {
  try {
    source_->OnProgress = OnProgress;
    source_->Decode();
    if (source_->IsEmpty()) throw EDecodeFailed(kCouldNotDecode, source_->Outcome());
  } catch (...) {
    FreeImage();
    throw;
  }
}

// The data source has checked the DIB against its blocks before keeping it,
// and its layout is what that check found.
const TSPIGraphic::Info& TSPIGraphic::UpdateInfo() const {
  if (info_valid_) return info_;
  Info info;
  if (!Empty() && source_->Layout() != nullptr) {
    info.Layout = *source_->Layout();
    info.FourBit = info.Layout.BitCount == 4;
    info.Alpha =
        info.Layout.BitCount == 32 &&
        FourthByteUsed(static_cast<const uint8_t*>(source_->LockBits()), info.Layout.ImageSize);
    info.Palette.reserve(info.Layout.Palette.size());
    for (uint32_t c : info.Layout.Palette)
      info.Palette.push_back(TPaletteEntry{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0});
  }
  info_ = std::move(info);
  info_valid_ = true;
  return info_;
}

uint32_t TSPIGraphic::BmpInfoSize() const {
  const Info& info = UpdateInfo();
  return info.Layout.InfoSize + (info.Alpha ? kAlphaMasksSize : 0);
}

void TSPIGraphic::ReserveBmpSize(TMemoryStream& stream) const {
  // The BMP form of a large picture is large: growing the stream while the
  // rows are written would copy them again and again.
  if (Empty()) return;
  const size_t size = size_t(14) + BmpInfoSize() + UpdateInfo().Layout.ImageSize;
  stream.Data().reserve(size);
  AdviseLargeBlock(stream.Data().data(), size);
}

void TSPIGraphic::SaveToStream(TStream& stream) const {
  if (Empty()) throw EInvalidGraphic("ビットマップイメージが不正です");
  const Info& info = UpdateInfo();
  const DibLayout& layout = info.Layout;
  const uint32_t info_size = BmpInfoSize();
  uint8_t file_header[14] = {};
  Put16(file_header, 0x4D42);  // "BM"
  Put32(file_header + 2, 14 + info_size + layout.ImageSize);
  Put32(file_header + 10, 14 + info_size);
  stream.WriteBuffer(file_header, sizeof file_header);
  if (info.Alpha) {
    // The plug-in's 40-byte header (a 32-bit DIB has no colour table) as a
    // 56-byte one with bit-field coding and the masks of B, G, R, A bytes.
    uint8_t header[40 + kAlphaMasksSize];
    std::memcpy(header, source_->LockInfo(), 40);
    Put32(header, sizeof header);
    Put32(header + 16, kBiBitfields);
    Put32(header + 40, 0x00FF0000);
    Put32(header + 44, 0x0000FF00);
    Put32(header + 48, 0x000000FF);
    Put32(header + 52, 0xFF000000);
    stream.WriteBuffer(header, sizeof header);
  } else {
    stream.WriteBuffer(source_->LockInfo(), layout.InfoSize);
  }
  stream.WriteBuffer(source_->LockBits(), layout.ImageSize);
}

ArgbImage TSPIGraphic::Render() const {
  ArgbImage image;
  if (Empty()) return image;
  const DibLayout& layout = UpdateInfo().Layout;
  image.width = layout.Width;
  image.height = layout.Rows();
  image.pixels.assign(size_t(image.width) * size_t(image.height), 0xFF000000u);
  if (image.pixels.empty()) return image;

  // Drawn as the display draws a DIB: 16 bits as 5-5-5, the fourth byte of
  // a 32-bit pixel not drawn. The check has refused indices past the table.
  const DibRowDecoder decoder(layout.BitCount, layout.Palette,
                              DibRowDecoder::DefaultMasks(layout.BitCount), 4);
  const auto* bits = static_cast<const uint8_t*>(source_->LockBits());
  std::vector<uint8_t> row(size_t(image.width) * 4);
  for (int y = 0; y < image.height; ++y) {
    decoder.Decode(bits + layout.RowOffset(y), row.size() / 4, row.data());
    uint32_t* out = image.pixels.data() + size_t(y) * size_t(image.width);
    for (size_t x = 0; x < row.size() / 4; ++x) out[x] = Get32(row.data() + 4 * x);
  }
  return image;
}

std::unique_ptr<TGraphic> TSPIGraphic::ConvertTo(TGraphicClass graphic_class) const {
  std::unique_ptr<TGraphic> result = NewGraphic(graphic_class);
  TMemoryStream stream;
  ReserveBmpSize(stream);
  SaveToStream(stream);
  stream.SetPosition(0);
  result->LoadFromStream(stream);
  return result;
}

std::unique_ptr<TGraphic> TSPIGraphic::ConvertToAndFree(TGraphicClass graphic_class) {
  std::unique_ptr<TGraphic> result = NewGraphic(graphic_class);
  TMemoryStream stream;
  ReserveBmpSize(stream);
  SaveToStream(stream);
  FreeImage();  // the plug-in's copy goes before the new graphic makes its own
  if (result->ClassType() == &TBitmap::Class) {
    // The stream is discarded after the load: a plain bitmap may keep its
    // block and use the rows where they lie instead of copying them.
    static_cast<TBitmap&>(*result).LoadFromBmpBytes(std::move(stream.Data()));
    return result;
  }
  stream.SetPosition(0);
  result->LoadFromStream(stream);
  return result;
}

}  // namespace kevrale
