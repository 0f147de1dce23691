// Whole jobs in virtual time: the real worker against the simulated unit's
// models on an in-process line, with faults chosen by the fuzzer. No thread,
// no pseudo-terminal, no real waiting: a 2000 ms pause moves a virtual clock.
//
// Input, byte by byte (missing bytes read as 0):
//   0  targets: bit 0 DSP, bit 1 camera board, bit 2 control board
//   1  rates: low nibble the user's rate, high nibble the camera's own (RATES)
//   2  start: 0 nothing listening; 1 the camera board's loader listens, as a
//      job that did not finish left it (and recorded it); 2 the same for the
//      control board; 3 and 4 the same without a record (a unit from elsewhere)
//   3  camera board image size: 1 + 4 * b bytes
//   4  control board image size: 1 + 4 * b bytes
//   5  DSP image: 0-5 a good one, 6 not a DSP image, 7 too short
//   6  RESETs not taken by the camera board's loader (low nibble % 8) and by
//      the control board's (high nibble % 8): neither acknowledged nor acted on
//   then entries of 4 bytes: 16-bit big-endian step to the next reply of the
//   unit that is hit (from the last one hit), the fault (FAULTS), a parameter.
//
// Properties for every input:
//   - the job ends within a virtual hour (far above the longest good job);
//   - ended without a message: every selected target holds its image, and
//     nothing else changed;
//   - ended with a message: "100 %" was never shown;
//   - nothing is shown after "Download Error !!";
//   - a DSP block goes out only once a completion (z 5y FF) has reached the
//     tool since its announce went out: a reply that came late for an earlier
//     message never passes for the announce's;
//   - ASan and UBSan find nothing.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "JobContext.h"
#include "DspImageLayout.h"
#include "FuzzCheck.h"
#include "LoaderRecords.h"
#include "MessageTexts.h"
#include "SampleImages.h"
#include "SerialLink.h"
#include "VirtualLine.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Time = sim::VirtualUnit::Time;

constexpr int32_t RATES[16] = {9600, 19200, 38400, 57600, 115200, 4800, 2400, 14400,
                               9600, 9600,  9600,  19200, 19200,  38400, 9600, 9600};
constexpr sim::ReplyFault FAULTS[] = {sim::ReplyFault::Drop,   sim::ReplyFault::Delay, sim::ReplyFault::Cut,
                                      sim::ReplyFault::Double, sim::ReplyFault::Garble, sim::ReplyFault::Noise,
                                      sim::ReplyFault::HangUp};
constexpr auto VIRTUAL_LIMIT = std::chrono::hours(1);
const char* const DEVICE = sim::VirtualLine::DEVICE;

struct Scenario {
  bool selected[3] = {false, false, false};
  int32_t userRate = 9600;
  int cameraRate = 9600;
  int start = 0;
  Bytes images[3];
  sim::VirtualUnitOptions unit;
};

Scenario Decode(const uint8_t* data, size_t size) {
  const auto at = [&](size_t i) -> uint8_t { return i < size ? data[i] : 0; };
  Scenario s;
  for (int t = 0; t < 3; ++t) s.selected[t] = (at(0) >> t) & 1;
  s.userRate = RATES[at(1) & 0x0F];
  s.cameraRate = RATES[at(1) >> 4];
  s.start = at(2) % 5;
  s.images[CM_PATH] = sim::MakeSampleBoardImage(1 + 4 * at(3), 21);
  s.images[MOTOR_PATH] = sim::MakeSampleBoardImage(1 + 4 * at(4), 22);
  s.images[DSP_PATH] = sim::MakeSampleDspImage(0x11223344, 23);
  switch (at(5) % 8) {
    case 6: s.images[DSP_PATH][0] ^= 0xFF; break;  // the signature no longer matches
    case 7: s.images[DSP_PATH].resize(DSP_HEADER_SIZE + DSP_BODY_SIZE / 2); break;
    default: break;
  }
  s.unit.CameraRate = s.cameraRate;
  if (s.start == 1 || s.start == 3) s.unit.ListeningAtStart = sim::UnitPart::CameraBoardLoader;
  if (s.start == 2 || s.start == 4) s.unit.ListeningAtStart = sim::UnitPart::ControlBoardLoader;
  const int cmResets = at(6) & 0x07, motorResets = (at(6) >> 4) & 0x07;
  if (cmResets > 0) {
    s.unit.Faults.push_back({sim::FaultKind::ResetNotTaken, sim::UnitPart::CameraBoardLoader, 0x25, 0, cmResets});
  }
  if (motorResets > 0) {
    s.unit.Faults.push_back({sim::FaultKind::ResetNotTaken, sim::UnitPart::ControlBoardLoader, 0x25, 0, motorResets});
  }
  size_t reply = 0;
  for (size_t i = 7; i + 4 <= size && s.unit.Replies.size() < 100000; i += 4) {
    reply += (static_cast<size_t>(data[i]) << 8) | data[i + 1];
    if (reply >= 100000) break;
    s.unit.Replies.resize(reply + 1);
    const uint8_t kind = data[i + 2];
    s.unit.Replies[reply] = {kind < 7 * 32 ? FAULTS[kind % 7] : sim::ReplyFault::None, data[i + 3]};
    // Delays reach from a fraction of a poll to beyond the longest wait.
    if (s.unit.Replies[reply].Fault == sim::ReplyFault::Delay) {
      s.unit.Replies[reply].Param = static_cast<uint32_t>(data[i + 3]) * data[i + 3] * 100;
    }
    ++reply;
  }
  return s;
}

class Recorder final : public JobObserver {
 public:
  void ShowErrorMessage(const std::string& text) override { shown.push_back(text); }
  void SetStatusText(const std::string& text) override {
    if (text == TEXT_DONE) done = true;
    // Nothing after the job's end message, not even a status.
    if (!shown.empty() && shown.back() == TEXT_DOWNLOAD_ERROR && text != TEXT_READY) afterEnd = true;
  }
  std::vector<std::string> shown;
  bool done = false;
  bool afterEnd = false;
};

std::string TempImage(int index, const Bytes& bytes) {
  const std::string path = "/tmp/lumo-job-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(index);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

// See the properties above: for every block, a completion that began between
// the end of its announce and the block's first byte. The unit's wire record has the times each
// byte arrived, at the unit for the tool's bytes and at the tool for the unit's.
bool BlocksFollowACompletion(const std::vector<sim::WireByte>& wire) {
  static const uint8_t ANNOUNCE[] = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};
  // The first byte of each z 5y FF: a scan may take the completion as soon
  // as its first two bytes are in.
  std::vector<const sim::WireByte*> completions;
  std::vector<const sim::WireByte*> fromUnit;
  for (const sim::WireByte& b : wire) {
    if (b.Direction == sim::WireDirection::ToHost) fromUnit.push_back(&b);
  }
  for (size_t i = 2; i < fromUnit.size(); ++i) {
    if (fromUnit[i - 2]->Byte == 0x90 && (fromUnit[i - 1]->Byte & 0xF0) == 0x50 && fromUnit[i]->Byte == 0xFF) {
      completions.push_back(fromUnit[i - 2]);
    }
  }
  size_t matched = 0;
  bool afterAnnounce = false;
  Time announceEnd{};
  for (const sim::WireByte& b : wire) {
    if (b.Direction != sim::WireDirection::ToUnit) continue;
    if (afterAnnounce) {
      afterAnnounce = false;
      if (b.Byte <= 0x0F) {  // a block's first nibble
        const bool answered = std::any_of(completions.begin(), completions.end(), [&](const sim::WireByte* c) {
          return c->Time > announceEnd && c->Time < b.Time;
        });
        if (!answered) return false;
      }
    }
    matched = b.Byte == ANNOUNCE[matched] ? matched + 1 : (b.Byte == ANNOUNCE[0] ? 1 : 0);
    if (matched == sizeof ANNOUNCE) {
      afterAnnounce = true;
      announceEnd = b.Time;
      matched = 0;
    }
  }
  return true;
}

bool Erased(const Bytes& memory) {
  return std::all_of(memory.begin(), memory.end(), [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Scenario s = Decode(data, size);

  struct Bench {
    explicit Bench(const Scenario& s) : line(s.unit, VIRTUAL_LIMIT), session(line.Ports(), &records), job(session, &ui) {
      line.Attach(ContextOf(job).Link);
    }
    sim::VirtualLine line;
    LoaderRecords records;  // in memory
    Recorder ui;
    JobSession session;
    TDownloadJob job;
  } bench(s);

  // A loader an unfinished job left listening is on the record, as that job
  // recorded it before it entered the loader.
  if (s.start == 1) static_cast<void>(bench.records.Set(DEVICE, CAMERA_BOARD));
  if (s.start == 2) static_cast<void>(bench.records.Set(DEVICE, CONTROL_BOARD));

  JobRequest request;
  request.Device = DEVICE;
  request.User_BaudRate = s.userRate;
  for (int t = 0; t < 3; ++t) request.Targets[t] = {s.selected[t], TempImage(t, s.images[t])};
  const JobOutcome outcome = RunDownloadJobOnThisThread(&bench.job, request);
  for (int t = 0; t < 3; ++t) ::unlink(request.Targets[t].Path.c_str());

  const sim::VirtualUnit& unit = bench.line.unit;
  // LUMO_JOB_FUZZ_SHOW=1: what the job showed, for reading a crash input.
  if (const char* show = std::getenv("LUMO_JOB_FUZZ_SHOW"); show && *show == '1') {
    std::fprintf(stderr, "targets %d%d%d, rate %d (camera %d), start %d, %zu reply faults, virtual %.3f s, %s\n",
                 s.selected[0], s.selected[1], s.selected[2], s.userRate, s.cameraRate, s.start, s.unit.Replies.size(),
                 std::chrono::duration<double>(bench.line.Now() - Time{}).count(), outcome.Success ? "success" : "failed");
    for (const std::string& text : bench.ui.shown) std::fprintf(stderr, "  message: %s\n", text.c_str());
  }
  // LUMO_JOB_FUZZ_SHOW=2: and the wire, a line per run of bytes one way.
  if (const char* show = std::getenv("LUMO_JOB_FUZZ_SHOW"); show && *show == '2') {
    const std::vector<sim::WireByte> wire = bench.line.unit.Wire();
    for (size_t i = 0; i < wire.size(); ++i) {
      if (i == 0 || wire[i].Direction != wire[i - 1].Direction) {
        std::fprintf(stderr, "\n%12.6f %s %6d ", std::chrono::duration<double>(wire[i].Time - Time{}).count(),
                     wire[i].Direction == sim::WireDirection::ToUnit ? "tool>unit" : "unit>tool", wire[i].Rate);
      }
      std::fprintf(stderr, "%02X ", wire[i].Byte);
    }
    std::fprintf(stderr, "\n");
  }
  const std::vector<std::string>& shown = bench.ui.shown;
  FUZZ_CHECK(!bench.ui.afterEnd);
  const auto end = std::find(shown.begin(), shown.end(), std::string(TEXT_DOWNLOAD_ERROR));
  FUZZ_CHECK(end == shown.end() || end + 1 == shown.end());  // nothing after "Download Error !!"
  FUZZ_CHECK(BlocksFollowACompletion(unit.Wire()));
  if (!shown.empty()) {
    FUZZ_CHECK(!bench.ui.done);  // a failed job never showed "100 %"
    FUZZ_CHECK(!outcome.Success);
    return 0;
  }
  FUZZ_CHECK(outcome.Success);
  // Every selected target holds its image; nothing else changed.
  const Bytes dsp = unit.DspMemory();
  if (s.selected[DSP_PATH]) {
    const Bytes& image = s.images[DSP_PATH];
    FUZZ_CHECK(std::equal(dsp.begin(), dsp.end(), image.begin() + DSP_HEADER_SIZE));
  } else {
    FUZZ_CHECK(Erased(dsp));
  }
  FUZZ_CHECK(unit.Flash(sim::UnitPart::CameraBoardLoader) == (s.selected[CM_PATH] ? s.images[CM_PATH] : Bytes{}));
  FUZZ_CHECK(unit.Flash(sim::UnitPart::ControlBoardLoader) == (s.selected[MOTOR_PATH] ? s.images[MOTOR_PATH] : Bytes{}));
  return 0;
}
