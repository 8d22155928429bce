#include "plugins/TSPIGraphic.h"

#include <cstring>

#include "picture/BmpReader.h"
#include "picture/DibRowDecoder.h"
#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/LargeBlock.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"
#include "plugins/SPIExceptions.h"
#include "plugins/TInSPIAbleFromFile.h"
#include "plugins/TInSPIAbleFromStream.h"
#include "plugins/TSPIs.h"

namespace kevrale {

const TGraphicClassInfo TSPIGraphic::Class("TSPIGraphic", &TGraphic::Class,
                                           &MakeInstance<TSPIGraphic, TGraphic>);

namespace {

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
    source_->Limits = Limits;
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
    info.Palette.reserve(info.Layout.Palette.size());
    for (uint32_t c : info.Layout.Palette)
      info.Palette.push_back(TPaletteEntry{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 0});
  }
  info_ = std::move(info);
  info_valid_ = true;
  return info_;
}

void TSPIGraphic::ReserveBmpSize(TMemoryStream& stream) const {
  // The BMP form of a large picture is large: growing the stream while the
  // rows are written would copy them again and again.
  if (Empty()) return;
  const DibLayout& layout = UpdateInfo().Layout;
  const size_t size = size_t(14) + layout.InfoSize + layout.ImageSize;
  stream.Data().reserve(size);
  AdviseLargeBlock(stream.Data().data(), size);
}

void TSPIGraphic::SaveToStream(TStream& stream) const {
  if (Empty()) throw EInvalidGraphic("ビットマップイメージが不正です");
  const DibLayout& layout = UpdateInfo().Layout;
  uint8_t file_header[14] = {};
  Put16(file_header, 0x4D42);  // "BM"
  Put32(file_header + 2, 14 + layout.InfoSize + layout.ImageSize);
  Put32(file_header + 10, 14 + layout.InfoSize);
  stream.WriteBuffer(file_header, sizeof file_header);
  stream.WriteBuffer(source_->LockInfo(), layout.InfoSize);
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

bool TSPIGraphic::AdoptRows(TBitmap& bitmap) {
  if (Empty()) return false;
  const DibLayout layout = UpdateInfo().Layout;
  // Rows stored as the bitmap stores them: 24 bits, bottom-up, the same
  // padding to 4 bytes.
  if (layout.BitCount != 24 || layout.TopDown()) return false;
  LocalBlock bits = source_->TakeBits();
  if (!bits) return false;
  auto* rows = static_cast<uint8_t*>(bits.Lock());
  const auto block = std::make_shared<LocalBlock>(std::move(bits));
  bitmap.AdoptBits(layout.Width, layout.Rows(), TPixelFormat::pf24bit,
                   std::shared_ptr<uint8_t[]>(block, rows));
  // Row padding is never drawn, but it is saved: zero, whatever the
  // plug-in left there.
  const size_t used = size_t(layout.Width) * 3;
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memset(bitmap.ScanLine(y) + used, 0, bitmap.Stride() - used);
  return true;
}

void TSPIGraphic::DecodeInto(TBitmap& bitmap) const {
  if (Empty()) throw EInvalidGraphic("ビットマップイメージが不正です");
  TBitmap decoded;
  ReadDib(UpdateInfo().Layout, static_cast<const uint8_t*>(source_->LockBits()), decoded);
  bitmap.Swap(decoded);
}

std::unique_ptr<TGraphic> TSPIGraphic::ConvertTo(TGraphicClass graphic_class) const {
  std::unique_ptr<TGraphic> result = NewGraphic(graphic_class);
  if (result->ClassType() == &TBitmap::Class) {
    DecodeInto(static_cast<TBitmap&>(*result));
    return result;
  }
  TMemoryStream stream;
  ReserveBmpSize(stream);
  SaveToStream(stream);
  stream.SetPosition(0);
  result->LoadFromStream(stream);
  return result;
}

std::unique_ptr<TGraphic> TSPIGraphic::ConvertToAndFree(TGraphicClass graphic_class) {
  std::unique_ptr<TGraphic> result = NewGraphic(graphic_class);
  if (result->ClassType() == &TBitmap::Class) {
    auto& bitmap = static_cast<TBitmap&>(*result);
    if (!AdoptRows(bitmap)) DecodeInto(bitmap);
    FreeImage();
    return result;
  }
  TMemoryStream stream;
  ReserveBmpSize(stream);
  SaveToStream(stream);
  FreeImage();  // the plug-in's copy goes before the new graphic makes its own
  stream.SetPosition(0);
  result->LoadFromStream(stream);
  return result;
}

}  // namespace kevrale
