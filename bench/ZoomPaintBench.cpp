// Drawing the desktop program's view of a 12500 x 1600 picture at each zoom
// factor: what one repaint of a 600 x 400 scroll box costs once the picture
// is shown (scrolling), and the first repaint after the picture changed,
// which converts the picture and, below 100 %, halves it. Runs on Qt's
// offscreen platform.
#include <benchmark/benchmark.h>

#include <memory>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "app/TImage.h"
#include "picture/TPicture.h"

namespace kevrale {
namespace {

constexpr int kWidth = 12500;
constexpr int kHeight = 1600;
const QSize kView(600, 400);

// White with black one-pixel lines every 7 pixels across and every 11 down.
TPicture& Picture() {
  static TPicture picture;
  if (picture.Width() == 0) {
    auto bitmap = std::make_unique<TBitmap>(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = bitmap->ScanLine(y);
      for (int x = 0; x < kWidth; ++x) {
        const uint8_t v = (x % 7 == 0 || y % 11 == 0) ? 0 : 255;
        row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = v;
      }
    }
    picture.SetGraphic(std::move(bitmap));
  }
  return picture;
}

// The part of the zoomed picture that a scroll box in its middle shows.
QRect Visible(const TImage& image) {
  const QPoint middle(image.width() / 2, image.height() / 2);
  return QRect(middle - QPoint(kView.width() / 2, kView.height() / 2), kView) & image.rect();
}

void Paint(TImage& image, QImage& target) {
  const QRect visible = Visible(image);
  image.render(&target, QPoint(), QRegion(visible), QWidget::DrawChildren);
}

void BM_ScrollRepaint(benchmark::State& state) {
  TImage image;
  image.SetPicture(&Picture());
  image.SetZoom(double(state.range(0)) / 1000);
  QImage target(kView, QImage::Format_RGB32);
  Paint(image, target);  // the picture converted and halved once
  for (auto _ : state) {
    Paint(image, target);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetLabel(QString::number(image.Zoom() * 100).toStdString() + "%");
}

void BM_FirstRepaintAfterAChange(benchmark::State& state) {
  TImage image;
  image.SetPicture(&Picture());
  image.SetZoom(double(state.range(0)) / 1000);
  QImage target(kView, QImage::Format_RGB32);
  for (auto _ : state) {
    image.PictureChanged();
    Paint(image, target);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetLabel(QString::number(image.Zoom() * 100).toStdString() + "%");
}

// Factors times 1000: 1/8, 1/sqrt(8), 1/sqrt(2), 1, 3, 8, 32.
#define KEVRALE_ZOOMS Arg(125)->Arg(354)->Arg(707)->Arg(1000)->Arg(3000)->Arg(8000)->Arg(32000)
BENCHMARK(BM_ScrollRepaint)->KEVRALE_ZOOMS->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstRepaintAfterAChange)->KEVRALE_ZOOMS->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kevrale

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
