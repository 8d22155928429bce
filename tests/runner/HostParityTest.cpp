// The host decoding through plug-in processes gives what it gives with the
// same decoders loaded into this process: the same calls in the same order,
// the same progress reports, the same bitmaps byte for byte and the same
// answer of every attempt, for sound and for lying decoders, with the
// listener aborting a decode or failing inside it. And where a process
// crashes or hangs, that decoder fails that picture and the loop goes on.
#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "RunnerSupport.h"
#include "localmem/LocalMemoryCount.h"
#include "platform/Exception.h"
#include "platform/Stream.h"
#include "plugins/TInSPIAbleFromFile.h"
#include "plugins/TInSPIAbleFromStream.h"
#include "plugins/TSPIGraphic.h"

namespace kevrale::test {
namespace {

using Placement = test::Placement;

// Everything a decode shows to its caller.
struct DecodeView {
  std::vector<std::string> Progress;
  std::vector<std::string> Calls;  // the decoders' log, addresses left out
  bool Empty = true;
  std::vector<uint8_t> Info, Bits;
  std::string Outcome;
  bool InfoOK = false;
  int32_t Width = 0, Height = 0;
  int16_t Depth = 0;
  std::string Error;  // the class of an error that ended the decode

  bool operator==(const DecodeView&) const = default;
};

std::ostream& operator<<(std::ostream& os, const DecodeView& v) {
  os << (v.Empty ? "empty" : "decoded") << ", outcome: " << v.Outcome << ", error: " << v.Error
     << ", progress:";
  for (const std::string& p : v.Progress) os << " [" << p << "]";
  os << ", calls:";
  for (const std::string& c : v.Calls) os << " [" << c << "]";
  return os;
}

struct Case {
  const char* decoder;
  bool memory;
  size_t prefix;  // bytes in front of the picture (a MacBinary header)
  bool preview = false;
};

std::string Name(const Case& c) {
  return std::string(c.decoder) + (c.memory ? " from memory" : " from a file") +
         (c.prefix != 0 ? " after 128 bytes" : "") + (c.preview ? " with preview" : "");
}

// What the listener does: nothing, raise EAbort at the first report of the
// plug-in, or raise another error there.
enum class Listener { Quiet, Abort, Fail };

class HostParity : public ::testing::Test {
 protected:
  DecodeView Decode(const Case& c, Placement placement, Listener listener = Listener::Quiet) {
    TestHost host({c.decoder}, true, c.preview, placement);
    log_.Clear();
    ProgressRecorder progress;
    progress.Throw = [listener](const Report& r) {
      if (r.Stage != psRunning || !r.Msg.empty()) return;
      if (listener == Listener::Abort) throw EAbort("stop");
      if (listener == Listener::Fail) throw std::runtime_error("listener failed");
    };
    const std::vector<uint8_t> bytes = KvtBytes(TestPicture(7, 5, 6, 2), c.prefix);
    const std::string file = folder_.File("p.kvt");
    WriteBytes(file, bytes);
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), bytes.size());
    TSPIGraphic owner;
    std::unique_ptr<TInSPIAbleData> source;
    if (c.memory)
      source = std::make_unique<TInSPIAbleFromStream>(&owner, GlobalSPIs(), "p.kvt", stream);
    else
      source = std::make_unique<TInSPIAbleFromFile>(&owner, GlobalSPIs(), file);
    source->OnProgress = progress.Listener();
    DecodeView view;
    try {
      source->Decode();
    } catch (const std::exception& e) {
      view.Error = typeid(e).name();
    }
    view.Progress = progress.Summary();
    static const std::regex kAddress("mem=0x[0-9a-f]+");
    for (const std::string& line : log_.Lines())
      view.Calls.push_back(std::regex_replace(line, kAddress, "mem=*"));
    view.Empty = source->IsEmpty();
    if (!view.Empty) {
      const auto* info = static_cast<const uint8_t*>(source->LockInfo());
      const auto* bits = static_cast<const uint8_t*>(source->LockBits());
      view.Info.assign(info, info + LocalSize(source->InfoHandle()));
      view.Bits.assign(bits, bits + LocalSize(source->BitsHandle()));
    }
    view.Outcome = source->Outcome().Text();
    view.InfoOK = source->InfoOK();
    view.Width = source->PictureInfo().width;
    view.Height = source->PictureInfo().height;
    view.Depth = source->PictureInfo().colorDepth;
    return view;
  }

  TempFolder folder_;
  DecoderLog log_;
};

TEST_F(HostParity, SoundAndLyingDecodersGiveTheSameThroughEitherPath) {
  const size_t blocks = KevraleLocalBlockCount();
  std::vector<Case> cases;
  for (const char* decoder :
       {"kvt_basic", "kvt_pal8", "kvt_pal1", "kvt_topdown", "kvt_zero", "kvt_text", "kvt_lie_bits",
        "kvt_lie_table", "kvt_lie_size", "kvt_bad_index", "kvt_foreign", "kvt_one_handle",
        "kvt_same_handle", "kvt_store_then_fail", "kvt_never", "kvt_fails"})
    for (const bool memory : {false, true}) cases.push_back({decoder, memory, 0});
  for (const bool memory : {false, true}) cases.push_back({"kvt_basic", memory, 128});
  cases.push_back({"kvt_basic", false, 0, true});
  cases.push_back({"kvt_nopreview", true, 0, true});
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c));
    const DecodeView local = Decode(c, Placement::InProcess);
    const DecodeView remote = Decode(c, Placement::InProcesses);
    EXPECT_EQ(remote, local);
    EXPECT_FALSE(local.Calls.empty());
  }
  // The sound ones decoded, the lying ones were refused.
  EXPECT_FALSE(Decode({"kvt_basic", true, 0}, Placement::InProcesses).Empty);
  const DecodeView lying = Decode({"kvt_lie_bits", false, 0}, Placement::InProcesses);
  EXPECT_TRUE(lying.Empty);
  EXPECT_EQ(lying.Outcome,
            "kvt_lie_bits.spi: broken data (the bitmap it returned does not fit its memory "
            "blocks); kvt_lie_bits.spi: not this format (at offset 128)");
  EXPECT_EQ(KevraleLocalBlockCount(), blocks);  // nothing that came back is lost
}

TEST_F(HostParity, TheListenerAbortsOrFailsInsideEitherPathAlike) {
  for (const Listener listener : {Listener::Abort, Listener::Fail}) {
    for (const bool memory : {false, true}) {
      const Case c{"kvt_basic", memory, 0};
      SCOPED_TRACE(Name(c) + (listener == Listener::Abort ? ", aborted" : ", failing"));
      const DecodeView local = Decode(c, Placement::InProcess, listener);
      const DecodeView remote = Decode(c, Placement::InProcesses, listener);
      EXPECT_EQ(remote, local);
      EXPECT_TRUE(local.Empty);
      if (listener == Listener::Abort) {
        EXPECT_EQ(local.Error, "");
        EXPECT_TRUE(
            local.Outcome.starts_with("kvt_basic.spi: aborted (stopped by the progress listener)"))
            << local.Outcome;
      } else {
        EXPECT_EQ(local.Error, typeid(std::runtime_error).name());
      }
    }
  }
}

TEST_F(HostParity, ADecoderWhoseProcessCrashesOrHangsFailsThatPictureOnly) {
  const std::string file = folder_.File("p.dat");  // an extension that nobody claims
  WriteBytes(file, KvtBytes(FourColours()));
  // In list order: the faulty ones in processes, then a sound one here.
  TestHost host({});
  PluginProcessOptions options;
  options.program_folder = KEVRALE_BIN_DIR;
  options.time_limit_seconds = 1;
  for (const char* faulty : {"kvt_crash", "kvt_hang"})
    host.Host().Add(CreateSPI(SpiSource(TestSpi(faulty), [options](const std::string& f) {
      return ProcessSpiLibrary::Open(f, options, nullptr);
    })));
  host.Host().Add(CreateSPI(TestSpi("kvt_plain")));
  TSPIGraphic owner;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    TInSPIAbleFromFile source(&owner, GlobalSPIs(), file);
    source.Decode();
    ASSERT_FALSE(source.IsEmpty());
    const std::string outcome = source.Outcome().Text();
    // Each faulty decoder is asked once: its other offset would fail again.
    EXPECT_TRUE(std::regex_match(outcome, std::regex("kvt_crash\\.spi: crashed \\(.+\\); "
                                                     "kvt_hang\\.spi: gave no answer within 1 s")))
        << outcome;
  }
}

}  // namespace
}  // namespace kevrale::test
