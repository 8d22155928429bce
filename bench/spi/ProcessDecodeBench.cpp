// Decoding a 4096 x 4096 picture through a plug-in process against the same
// plug-in called in this process: the bundled PNG plug-in through the
// native runner, and the KVT test decoder as a Windows DLL through a warm
// bridge under Wine (against the native KVT decoder), plus the first
// Windows decode of a run, Wine's start included; the same for the KVT
// decoder as a 32-bit DLL by either loader, and a list of a hundred smaller
// files through it. Meant for a Release build with the tests built (the KVT
// decoders come from the test tree).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CodecDecode.h"
#include "ipc/PluginProcess.h"
#include "kevrale/spi.h"
#include "plugins/TInSPI.h"

namespace {

constexpr int kSide = 4096;

struct Files {
  std::vector<uint8_t> png;
  std::string png_file;
  std::string kvt_file;
};

void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// A picture in the KVT form: "KVT1", width, height, RGB rows from the top.
std::vector<uint8_t> KvtBytes(const uint8_t* rgb, int width, int height) {
  std::vector<uint8_t> kvt = {'K', 'V', 'T', '1'};
  for (const uint32_t v : {uint32_t(width), uint32_t(height)})
    for (int i = 0; i < 4; ++i) kvt.push_back(uint8_t(v >> (8 * i)));
  kvt.insert(kvt.end(), rgb, rgb + size_t(width) * size_t(height) * 3);
  return kvt;
}

std::string BenchFolder() {
  const std::string folder =
      (std::filesystem::temp_directory_path() / "kevrale-process-bench").string();
  std::filesystem::create_directories(folder);
  return folder;
}

const Files& TestFiles() {
  static const Files files = [] {
    Files f;
    std::unique_ptr<uint8_t, decltype(&std::free)> rgb(BenchPicture(kSide, kSide), &std::free);
    size_t size = 0;
    uint8_t* png = BenchEncodePng(rgb.get(), kSide, kSide, &size);
    if (png == nullptr) throw std::runtime_error("encoding failed");
    f.png.assign(png, png + size);
    std::free(png);
    const std::string folder = BenchFolder();
    f.png_file = folder + "/picture.png";
    Write(f.png_file, f.png.data(), f.png.size());
    const std::vector<uint8_t> kvt = KvtBytes(rgb.get(), kSide, kSide);
    f.kvt_file = folder + "/picture.kvt";
    Write(f.kvt_file, kvt.data(), kvt.size());
    return f;
  }();
  return files;
}

// The CPU time that process `pid` has used so far, in milliseconds (the
// plug-in process's own work, which the benchmark's CPU column of this
// process does not hold).
double ProcessCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// Counts the plug-in process's CPU time per iteration as "child_cpu_ms".
class ChildCpu {
 public:
  ChildCpu(benchmark::State& state, const kevrale::PluginProcess& plugin)
      : state_(state), pid_(plugin.ProcessId()), start_(ProcessCpuMs(pid_)) {}
  ~ChildCpu() {
    if (state_.iterations() > 0)
      state_.counters["child_cpu_ms"] = (ProcessCpuMs(pid_) - start_) / double(state_.iterations());
  }

 private:
  benchmark::State& state_;
  pid_t pid_;
  double start_;
};

kevrale::PluginProcessOptions Options() {
  kevrale::PluginProcessOptions options;
  options.program_folder = KEVRALE_BIN_DIR;
  return options;
}

// One decode by `plugin` (a TInSPI or a PluginProcess); the blocks are freed.
template <class Plugin>
void Decode(benchmark::State& state, Plugin& plugin, const char* buf, intptr_t len, uint32_t flag) {
  SpiHandle info = nullptr, bits = nullptr;
  if (plugin.GetPicture(buf, len, flag, &info, &bits, nullptr, 0) != SPI_SUCCESS)
    state.SkipWithError("decode failed");
  benchmark::DoNotOptimize(bits);
  LocalFree(info);
  LocalFree(bits);
}

const char* PngBuf() {
  return reinterpret_cast<const char*>(TestFiles().png.data());
}
intptr_t PngLen() {
  return intptr_t(TestFiles().png.size());
}

void PngInProcess(benchmark::State& state) {
  kevrale::TInSPI plugin(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi");
  for (auto _ : state) Decode(state, plugin, PngBuf(), PngLen(), SPI_INPUT_MEMORY);
}

// Memory input, sent once per picture (as a new picture's bytes would be).
void PngRunner(benchmark::State& state) {
  kevrale::PluginProcess plugin(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi", Options());
  plugin.Start();
  const ChildCpu child(state, plugin);
  for (auto _ : state) {
    plugin.ForgetMemoryInput();
    Decode(state, plugin, PngBuf(), PngLen(), SPI_INPUT_MEMORY);
  }
}

void PngInProcessFile(benchmark::State& state) {
  kevrale::TInSPI plugin(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi");
  for (auto _ : state) Decode(state, plugin, TestFiles().png_file.c_str(), 0, SPI_INPUT_FILE);
}

void PngRunnerFile(benchmark::State& state) {
  kevrale::PluginProcess plugin(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi", Options());
  plugin.Start();
  const ChildCpu child(state, plugin);
  for (auto _ : state) Decode(state, plugin, TestFiles().png_file.c_str(), 0, SPI_INPUT_FILE);
}

// The bitmap handed over in a memory file, sealed and mapped, never copied,
// whether or not shared memory gets huge pages here.
void PngRunnerFileShared(benchmark::State& state) {
  kevrale::PluginProcessOptions options = Options();
  options.shared_blocks = kevrale::PluginProcessOptions::SharedBlocks::Always;
  kevrale::PluginProcess plugin(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi", options);
  plugin.Start();
  const ChildCpu child(state, plugin);
  for (auto _ : state) Decode(state, plugin, TestFiles().png_file.c_str(), 0, SPI_INPUT_FILE);
}

// The calls of one picture from memory (GetPictureInfo, then GetPicture):
// the bytes sent once for both, or once for each call.
void PngRunnerTwoCalls(benchmark::State& state) {
  const bool once = state.range(0) != 0;
  kevrale::PluginProcess plugin(std::string(KEVRALE_BIN_DIR) + "/plugins/ifpng.spi", Options());
  plugin.Start();
  for (auto _ : state) {
    plugin.ForgetMemoryInput();
    SpiPictureInfo info{};
    plugin.GetPictureInfo(PngBuf(), PngLen(), SPI_INPUT_MEMORY, &info);
    if (!once) plugin.ForgetMemoryInput();
    Decode(state, plugin, PngBuf(), PngLen(), SPI_INPUT_MEMORY);
  }
}

std::string KvtWindows() {
  return std::string(KEVRALE_TEST_DIR) + "/spi/win/kvtwin64.spi";
}

void KvtInProcess(benchmark::State& state) {
  kevrale::TInSPI plugin(std::string(KEVRALE_TEST_DIR) + "/spi/kvt_basic.spi");
  for (auto _ : state) Decode(state, plugin, TestFiles().kvt_file.c_str(), 0, SPI_INPUT_FILE);
}

void KvtWarmBridge(benchmark::State& state) {
  kevrale::PluginProcess plugin(KvtWindows(), Options());
  try {
    plugin.Start();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  const ChildCpu child(state, plugin);
  for (auto _ : state) Decode(state, plugin, TestFiles().kvt_file.c_str(), 0, SPI_INPUT_FILE);
}

// The same DLL called by a Windows program of its own under the same Wine:
// the baseline of the bridge. One Wine process decodes the file as often
// as the benchmark asks and reports each decode's time.
void KvtWindowsDirect(benchmark::State& state) {
  const std::string prefix = kevrale::DefaultWinePrefix();
  std::vector<std::string> names;
  for (const std::string& path : {std::string(KEVRALE_BENCH_DIR) + "/windows-direct-decode.exe",
                                  KvtWindows(), TestFiles().kvt_file}) {
    std::string name = "Z:" + path;
    for (char& c : name)
      if (c == '/') c = '\\';
    names.push_back(name);
  }
  const std::string command = "WINEPREFIX='" + prefix + "' WINEDEBUG=-all /usr/lib/wine/wine64 '" +
                              names[0] + "' '" + names[1] + "' '" + names[2] + "' " +
                              std::to_string(state.max_iterations + 1);
  FILE* times = popen(command.c_str(), "r");
  if (times == nullptr) {
    state.SkipWithError("cannot start the direct decoder");
    return;
  }
  double ms = 0;
  if (fscanf(times, "%lf", &ms) != 1) state.SkipWithError("no decode");  // the warm-up
  for (auto _ : state) {
    if (fscanf(times, "%lf", &ms) != 1) {
      state.SkipWithError("the direct decoder stopped");
      break;
    }
    state.SetIterationTime(ms / 1000.0);
  }
  pclose(times);
}

// A run's first Windows decode: the Wine server is not running, the prefix
// exists.
void KvtFirstBridgeDecode(benchmark::State& state) {
  {
    kevrale::PluginProcess warm_up(KvtWindows(), Options());  // makes the prefix if needed
    try {
      warm_up.Start();
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
  }
  const std::string prefix = kevrale::DefaultWinePrefix();
  const std::string stop_server =
      "WINEPREFIX='" + prefix + "' /usr/lib/wine/wineserver -k >/dev/null 2>&1";
  for (auto _ : state) {
    state.PauseTiming();
    if (std::system(stop_server.c_str()) < 0) state.SkipWithError("wineserver -k failed");
    state.ResumeTiming();
    kevrale::PluginProcess plugin(KvtWindows(), Options());
    Decode(state, plugin, TestFiles().kvt_file.c_str(), 0, SPI_INPUT_FILE);
  }
}

// The KVT decoder as a 32-bit DLL, by the route of range 0: 0 as this
// machine allows (32-bit Wine's loader where the kernel runs 32-bit
// programs), 1 through the 64-bit loader, forced by a "32-bit loader" that
// is no program. The label says which loader served.
std::string Kvt32() {
  return std::string(KEVRALE_TEST_DIR) + "/spi/win/kvtwin32.spi";
}

kevrale::PluginProcessOptions Options32(const benchmark::State& state) {
  kevrale::PluginProcessOptions options = Options();
  if (state.range(0) == 1) {
    options.wine.loader32 = BenchFolder() + "/not-a-program";
    const uint8_t text[] = "neither ELF nor script\n";
    Write(options.wine.loader32, text, sizeof text - 1);
    chmod(options.wine.loader32.c_str(), 0755);
  }
  return options;
}

void Label(benchmark::State& state, const kevrale::PluginProcess& plugin) {
  state.SetLabel(plugin.Through64BitLoader() ? "64-bit loader" : "32-bit loader");
}

// A run's first decode: the Wine server is not running, the prefix exists.
void Kvt32FirstDecode(benchmark::State& state) {
  {
    kevrale::PluginProcess warm_up(Kvt32(), Options32(state));  // makes the prefix if needed
    try {
      warm_up.Start();
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
    Label(state, warm_up);
  }
  const std::string stop_server = "WINEPREFIX='" + kevrale::DefaultWinePrefix() +
                                  "' /usr/lib/wine/wineserver -k >/dev/null 2>&1";
  for (auto _ : state) {
    state.PauseTiming();
    if (std::system(stop_server.c_str()) < 0) state.SkipWithError("wineserver -k failed");
    state.ResumeTiming();
    kevrale::PluginProcess plugin(Kvt32(), Options32(state));
    Decode(state, plugin, TestFiles().kvt_file.c_str(), 0, SPI_INPUT_FILE);
  }
}

void Kvt32WarmDecode(benchmark::State& state) {
  kevrale::PluginProcess plugin(Kvt32(), Options32(state));
  try {
    plugin.Start();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  Label(state, plugin);
  for (auto _ : state) Decode(state, plugin, TestFiles().kvt_file.c_str(), 0, SPI_INPUT_FILE);
}

// A list of a hundred 512 x 512 files through one bridge, its start
// included (the Wine server running, as in a run that has opened a
// Windows plug-in's file before).
void Kvt32List100(benchmark::State& state) {
  static const std::vector<std::string> files = [] {
    constexpr int side = 512;
    std::unique_ptr<uint8_t, decltype(&std::free)> rgb(BenchPicture(side, side), &std::free);
    const std::vector<uint8_t> kvt = KvtBytes(rgb.get(), side, side);
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i) {
      names.push_back(BenchFolder() + "/list" + std::to_string(i) + ".kvt");
      Write(names.back(), kvt.data(), kvt.size());
    }
    return names;
  }();
  kevrale::PluginProcess warm_up(Kvt32(), Options32(state));  // keeps the server up
  try {
    warm_up.Start();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  Label(state, warm_up);
  for (auto _ : state) {
    kevrale::PluginProcess plugin(Kvt32(), Options32(state));
    for (const std::string& file : files) Decode(state, plugin, file.c_str(), 0, SPI_INPUT_FILE);
  }
}

BENCHMARK(PngInProcess)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PngRunner)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PngInProcessFile)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PngRunnerFile)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PngRunnerFileShared)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PngRunnerTwoCalls)
    ->MeasureProcessCPUTime()
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(KvtInProcess)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(KvtWarmBridge)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(KvtWindowsDirect)
    ->MeasureProcessCPUTime()
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(KvtFirstBridgeDecode)
    ->MeasureProcessCPUTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Kvt32FirstDecode)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(Kvt32WarmDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Kvt32List100)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
