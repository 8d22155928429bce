// The row writers: a picture written in bands, however they are cut and
// whatever the stream can do, is the file that the whole bitmap gives.
#include "picture/ImageRowWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Files.h"
#include "TempFolder.h"
#include "picture/ImageFileFormat.h"
#include "platform/Exception.h"
#include "platform/Stream.h"

namespace kevrale {
namespace {

// A stream that only appends, like a pipe: it cannot seek.
class PipeLikeStream : public TStream {
 public:
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t count) override {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    data.insert(data.end(), bytes, bytes + count);
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return -1; }
  std::vector<uint8_t> data;
};

TBitmap RandomPicture(int width, int height, TPixelFormat format, unsigned seed) {
  std::mt19937 rng(seed);
  TBitmap b(width, height, format);
  for (int y = 0; y < height; ++y) {
    uint8_t* p = b.ScanLine(y);
    // Runs of one colour now and then, so that the codecs meet both.
    for (size_t i = 0; i < size_t(width) * size_t(b.BytesPerPixel()); ++i)
      p[i] = rng() % 3 == 0 ? uint8_t(rng()) : uint8_t(y);
  }
  return b;
}

// The rows [y0, y0 + count) of a bitmap as a band of their own.
TBitmap BandOf(const TBitmap& b, int y0, int count) {
  TBitmap band;
  band.Allocate(b.Width(), count, b.PixelFormat());
  for (int i = 0; i < count; ++i) std::copy_n(b.ScanLine(y0 + i), b.Stride(), band.ScanLine(i));
  return band;
}

void WriteInBands(TImageFileFormat format, const TBitmap& b, TStream& stream, int band_rows) {
  const RasterLayout layout =
      format == TImageFileFormat::Bmp ? RasterLayout{} : LayoutOf(b, format);
  const auto writer =
      MakeImageRowWriter(format, stream, b.Width(), b.Height(), b.PixelFormat(), layout);
  for (int y0 = 0; y0 < b.Height(); y0 += band_rows)
    writer->WriteRows(y0, BandOf(b, y0, std::min(band_rows, b.Height() - y0)));
  writer->Finish();
}

std::vector<uint8_t> Whole(TImageFileFormat format, const TBitmap& b) {
  TMemoryStream stream;
  WriteImage(format, b, stream);
  return stream.Data();
}

const char* Name(TImageFileFormat format) {
  return format == TImageFileFormat::Bmp ? "BMP" : format == TImageFileFormat::Png ? "PNG" : "TIFF";
}

constexpr TImageFileFormat kFormats[] = {TImageFileFormat::Bmp, TImageFileFormat::Png,
                                         TImageFileFormat::Tiff};

TEST(ImageRowWriter, BandsOfAnySizeGiveTheFileOfTheWholeBitmap) {
  for (const TImageFileFormat format : kFormats)
    for (const TPixelFormat pixels : {TPixelFormat::pf24bit, TPixelFormat::pf32bit})
      for (const int width : {1, 5, 130}) {
        const TBitmap b = RandomPicture(width, 45, pixels, unsigned(width));
        const std::vector<uint8_t> whole = Whole(format, b);
        for (const int band_rows : {1, 4, 19, 45}) {
          SCOPED_TRACE(std::string(Name(format)) + ", width " + std::to_string(width) +
                       ", bands of " + std::to_string(band_rows) +
                       (pixels == TPixelFormat::pf32bit ? ", alpha" : ""));
          TMemoryStream seekable;
          WriteInBands(format, b, seekable, band_rows);
          EXPECT_EQ(seekable.Data(), whole);
          PipeLikeStream pipe;
          WriteInBands(format, b, pipe, band_rows);
          EXPECT_EQ(pipe.data, whole);
        }
      }
}

// A BMP stores its rows bottom-up; on a file opened to append, a write
// never goes where a seek puts it, so the rows must come in file order.
TEST(ImageRowWriter, AFileOpenedToAppendGetsItsRowsInOrder) {
  test::TempFolder dir;
  const TBitmap b = RandomPicture(9, 30, TPixelFormat::pf24bit, 5);
  for (const TImageFileFormat format : kFormats) {
    SCOPED_TRACE(Name(format));
    const std::string path = dir.File(std::string("append-") + Name(format));
    test::WriteText(path, "head");
    {
      const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
      ASSERT_GE(fd, 0);
      struct AppendStream : TFileStream {
        explicit AppendStream(int fd) : TFileStream(fd, "append") {}
      } stream(fd);
      stream.Seek(0, SeekOrigin::End);
      WriteInBands(format, b, stream, 7);
    }
    std::vector<uint8_t> expected = {'h', 'e', 'a', 'd'};
    const std::vector<uint8_t> whole = Whole(format, b);
    expected.insert(expected.end(), whole.begin(), whole.end());
    EXPECT_EQ(test::ReadBytes(path), expected);
  }
}

TEST(ImageRowWriter, AnEmptyPictureHasNoPngOrTiffForm) {
  TMemoryStream stream;
  EXPECT_THROW(MakeImageRowWriter(TImageFileFormat::Png, stream, 0, 5, TPixelFormat::pf24bit),
               EInvalidGraphic);
  EXPECT_THROW(MakeImageRowWriter(TImageFileFormat::Tiff, stream, 4, 0, TPixelFormat::pf24bit),
               EInvalidGraphic);
  EXPECT_EQ(stream.Size(), 0);
  // A BMP has one: its headers and no rows.
  const auto writer =
      MakeImageRowWriter(TImageFileFormat::Bmp, stream, 4, 0, TPixelFormat::pf24bit);
  writer->Finish();
  EXPECT_EQ(stream.Size(), 54);
}

TEST(ImageRowWriter, RowsOutOfOrderOrMissingAreRefused) {
  const TBitmap b = RandomPicture(6, 10, TPixelFormat::pf24bit, 9);
  TMemoryStream stream;
  const auto writer = MakeImageRowWriter(TImageFileFormat::Bmp, stream, 6, 10, b.PixelFormat());
  writer->WriteRows(0, BandOf(b, 0, 4));
  EXPECT_THROW(writer->WriteRows(5, BandOf(b, 5, 2)), std::logic_error);
  EXPECT_THROW(writer->Finish(), std::logic_error);
}

// A stream that fails on the n-th write: the error comes out of the row
// writer as the stream raised it, for every format.
class FailingStream : public TMemoryStream {
 public:
  explicit FailingStream(int fail_at) : fail_at_(fail_at) {}
  size_t Write(const void* buffer, size_t count) override {
    if (++writes_ >= fail_at_) return 0;
    return TMemoryStream::Write(buffer, count);
  }

 private:
  int fail_at_;
  int writes_ = 0;
};

TEST(ImageRowWriter, AFailedWriteIsRaised) {
  const TBitmap b = RandomPicture(300, 200, TPixelFormat::pf24bit, 11);
  for (const TImageFileFormat format : kFormats)
    for (const int fail_at : {1, 2, 3}) {
      SCOPED_TRACE(std::string(Name(format)) + ", write " + std::to_string(fail_at));
      FailingStream stream(fail_at);
      EXPECT_THROW(WriteInBands(format, b, stream, 16), EWriteError);
    }
}

}  // namespace
}  // namespace kevrale
