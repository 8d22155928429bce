#include "plugins/TSPIGraphic.h"

#include <cstring>

#include "picture/TBitmap.h"
#include "platform/Exception.h"
#include "platform/LargeBlock.h"
#include "platform/LittleEndian.h"
#include "platform/Stream.h"
#include "plugins/TInSPIAbleFromFile.h"
#include "plugins/TInSPIAbleFromStream.h"

namespace kevrale {

const TGraphicClassInfo TSPIGraphic::Class("TSPIGraphic", &TGraphic::Class,
                                           &MakeInstance<TSPIGraphic, TGraphic>);

namespace {

constexpr char kCouldNotDecode[] = "Susie Plugins could not decode";

// A 5-bit channel widened to 8 bits, rounded as the BMP reader does.
uint8_t Widen5(uint32_t v) {
  return uint8_t((v * 255 + 15) / 31);
}

std::unique_ptr<TGraphic> NewGraphic(TGraphicClass graphic_class) {
  std::unique_ptr<TGraphic> graphic = graphic_class ? graphic_class->Create() : nullptr;
  if (!graphic) throw EInvalidGraphicOperation("ビットマップイメージが不正です");
  return graphic;
}

}  // namespace

TSPIGraphic::~TSPIGraphic() {
  FreeImage();
}

bool TSPIGraphic::Empty() const {
  return !source_ || source_->IsEmpty();
}

int TSPIGraphic::Width() const {
  return UpdateInfo().ImageWidth;
}
int TSPIGraphic::Height() const {
  return UpdateInfo().ImageHeight;
}
const TPalette& TSPIGraphic::Palette() const {
  return UpdateInfo().Palette;
}
bool TSPIGraphic::IsFourBit() const {
  return UpdateInfo().FourBit;
}
uint32_t TSPIGraphic::InfoSize() const {
  return UpdateInfo().InfoSize;
}
uint32_t TSPIGraphic::ImageSize() const {
  return UpdateInfo().ImageSize;
}
uint32_t TSPIGraphic::ColorCount() const {
  return UpdateInfo().ColorCount;
}

void TSPIGraphic::FreeImage() {
  source_.reset();
  info_ = Info{};
  info_valid_ = false;
}

void TSPIGraphic::LoadFromFile(const std::string& path) {
  FreeImage();
  source_ = std::make_unique<TInSPIAbleFromFile>(this, path);
  DecodeSource();
}

void TSPIGraphic::LoadFromStream(TStream& stream) {
  LoadFromStreamWithName(stream, std::string());
}

void TSPIGraphic::LoadFromStreamWithName(TStream& stream, const std::string& file_name) {
  FreeImage();
  source_ = std::make_unique<TInSPIAbleFromStream>(this, file_name, stream);
  DecodeSource();
}

void TSPIGraphic::DecodeSource() {
  try {
    source_->OnProgress = OnProgress;
    source_->Decode();
    if (source_->IsEmpty()) throw EInvalidGraphic(kCouldNotDecode);
  } catch (...) {
    FreeImage();
    throw;
  }
}

// The data source has checked the DIB against its blocks before keeping it
// (CheckDib), so the sizes read here lie inside them.
const TSPIGraphic::Info& TSPIGraphic::UpdateInfo() const {
  if (info_valid_) return info_;
  Info info;
  if (!Empty()) {
    const auto* header = static_cast<const uint8_t*>(source_->LockInfo());
    const int32_t width = int32_t(Get32(header + 4));
    const int32_t height = int32_t(Get32(header + 8));
    const uint16_t bit_count = Get16(header + 14);
    info.ColorCount = Get32(header + 32);
    const uint64_t stride = (uint64_t(uint32_t(width)) * bit_count + 31) / 32 * 4;
    const uint64_t rows = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
    info.ImageSize = uint32_t(stride * rows);
    info.ImageWidth = width;
    info.ImageHeight = height;
    info.BitCount = bit_count;
    if (info.ColorCount == 0 && (bit_count == 1 || bit_count == 4 || bit_count == 8))
      info.ColorCount = 1u << bit_count;
    info.InfoSize = info.ColorCount * 4 + 40;
    info.FourBit = bit_count == 4;
    info.Palette.resize(info.ColorCount);
    for (uint32_t i = 0; i < info.ColorCount; ++i) {
      const uint8_t* quad = header + 40 + 4 * size_t(i);  // blue, green, red, reserved
      info.Palette[i] = TPaletteEntry{quad[2], quad[1], quad[0], 0};
    }
  }
  info_ = std::move(info);
  info_valid_ = true;
  return info_;
}

void TSPIGraphic::ReserveBmpSize(TMemoryStream& stream) const {
  // The BMP form of a large picture is large: growing the stream while the
  // rows are written would copy them again and again.
  if (Empty()) return;
  const Info& info = UpdateInfo();
  const size_t size = size_t(14) + info.InfoSize + info.ImageSize;
  stream.Data().reserve(size);
  AdviseLargeBlock(stream.Data().data(), size);
}

void TSPIGraphic::SaveToStream(TStream& stream) const {
  if (Empty()) throw EInvalidGraphic("ビットマップイメージが不正です");
  const Info& info = UpdateInfo();
  uint8_t file_header[14] = {};
  Put16(file_header, 0x4D42);  // "BM"
  Put32(file_header + 2, 14 + info.InfoSize + info.ImageSize);
  Put32(file_header + 10, 14 + info.InfoSize);
  stream.WriteBuffer(file_header, sizeof file_header);
  stream.WriteBuffer(source_->LockInfo(), info.InfoSize);
  stream.WriteBuffer(source_->LockBits(), info.ImageSize);
}

ArgbImage TSPIGraphic::Render() const {
  ArgbImage image;
  if (Empty()) return image;
  const Info& info = UpdateInfo();
  const bool top_down = info.ImageHeight < 0;
  image.width = info.ImageWidth;
  image.height = top_down ? -info.ImageHeight : info.ImageHeight;
  image.pixels.assign(size_t(image.width) * size_t(image.height), 0xFF000000u);
  if (image.pixels.empty()) return image;

  const auto* bits = static_cast<const uint8_t*>(source_->LockBits());
  const size_t stride = info.ImageSize / size_t(image.height);
  const int bpp = info.BitCount;
  std::vector<uint32_t> colours(info.ColorCount);
  for (size_t i = 0; i < colours.size(); ++i) {
    const TPaletteEntry& e = info.Palette[i];
    colours[i] = 0xFF000000u | uint32_t(e.peRed) << 16 | uint32_t(e.peGreen) << 8 | e.peBlue;
  }
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = bits + size_t(top_down ? y : image.height - 1 - y) * stride;
    uint32_t* out = image.pixels.data() + size_t(y) * size_t(image.width);
    for (int x = 0; x < image.width; ++x) {
      uint32_t argb = 0xFF000000u;
      switch (bpp) {
        case 1:
        case 4:
        case 8: {
          const size_t bit = size_t(x) * size_t(bpp);
          const unsigned shift = unsigned(8 - bpp - int(bit % 8));
          const uint32_t index = (row[bit / 8] >> shift) & ((1u << bpp) - 1);
          // The check refuses indices past the table; black stays for safety.
          if (index < colours.size()) argb = colours[index];
          break;
        }
        case 16: {
          const uint32_t v = Get16(row + 2 * size_t(x));
          argb |= uint32_t(Widen5(v >> 10 & 31)) << 16 | uint32_t(Widen5(v >> 5 & 31)) << 8 |
                  Widen5(v & 31);
          break;
        }
        case 24:
        case 32: {
          // The fourth byte of a 32-bit pixel is not drawn.
          const uint8_t* p = row + size_t(x) * size_t(bpp / 8);
          argb |= uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
          break;
        }
        default:
          break;
      }
      out[x] = argb;
    }
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
