// The reply scanners against arbitrary receive-buffer contents arriving in
// slices, as the receive thread stores them.
//
// Input: one byte of slice lengths' seed, then the bytes that arrive; each
// slice's length (1 to 64) is taken from the seed stream. After every slice
// every scanner runs over the buffer.
//
// Properties: each scanner gives what a plain reading of its reply pattern
// over the received bytes gives (the first matching position decides); a
// reply once found stays found as more bytes arrive behind it; nothing past
// the 1024-byte buffer counts, even when the count claims more.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <cstdint>
#include <vector>

#include "CameraChannel.h"
#include "DspDownload.h"
#include "FuzzCheck.h"
#include "DownloadJob.h"
#include "JobContext.h"
#include "LoaderDownload.h"
#include "RxBufferAccess.h"

namespace {

using Bytes = std::vector<uint8_t>;

int32_t CameraReference(const Bytes& b, uint32_t mode, uint8_t z) {
  const auto high = [](uint8_t x, uint8_t n) { return (x & 0xF0) == n; };
  for (size_t i = 0; i < b.size(); ++i) {
    const size_t left = b.size() - i;
    switch (mode) {
      case WAIT_ACK_AND_COMPLETION:
        if (left >= 6 && b[i] == z && high(b[i + 1], 0x40) && b[i + 2] == 0xFF && b[i + 3] == z &&
            high(b[i + 4], 0x50) && b[i + 5] == 0xFF)
          return 0;
        break;
      case WAIT_ACK:
        if (left >= 2 && b[i] == z && high(b[i + 1], 0x40)) return 0;
        break;
      case WAIT_COMPLETION:
        if (left >= 3 && b[i] == z && high(b[i + 1], 0x50) && b[i + 2] == 0xFF) return 0;
        break;
      case WAIT_ADDRESS_SET:
        if (left >= 4 && b[i] == 0x88 && b[i + 1] == 0x30 && b[i + 2] == 0x02 && b[i + 3] == 0xFF) return 0;
        break;
      default:
        return -1;
    }
  }
  return -1;
}

int32_t BlockReference(const Bytes& b) {
  for (size_t i = 0; i + 3 < b.size(); ++i) {
    if (b[i] == 0x90 && (b[i + 1] & 0xF0) == 0x50 && b[i + 3] == 0xFF && b[i + 2] <= 0x01) return b[i + 2];
  }
  return -1;
}

int32_t AckReference(const Bytes& b) {
  for (size_t i = 0; i + 1 < b.size(); ++i) {
    if (b[i] == 0x00 && b[i + 1] == 0xCC) return 204;
    if (b[i] == 0x00 && b[i + 1] == 0x33) return 51;
  }
  return -1;
}

int32_t StatusReference(const Bytes& b) {
  for (size_t i = 0; i + 4 < b.size(); ++i) {
    if (b[i] != 0x00 || b[i + 1] != 0xCC || b[i + 2] != 0x03) continue;
    if (b[i + 3] == 0x40 && b[i + 4] == 0x40) return 64;
    if (b[i + 3] != 0x40 && b[i + 4] != 0x40) return b[i + 3];
  }
  return -1;
}

struct Results {
  int32_t camera[6][2];
  int32_t block, ack, status;
};

// The scans' answers in the references' terms.
Results ScanAll(JobContext* form) {
  Results r{};
  for (uint32_t mode = 0; mode < 6; ++mode) {
    r.camera[mode][0] = ScanCameraReply(form, mode, 0x90) ? 0 : -1;
    r.camera[mode][1] = ScanCameraReply(form, mode, 0xA0) ? 0 : -1;
  }
  const std::optional<BlockReply> block = ScanBlockReply(form);
  r.block = !block ? -1 : *block == BlockReply::Written ? 1 : 0;
  const std::optional<LoaderAck> ack = ScanLoaderAck(form);
  r.ack = !ack ? -1 : *ack == LoaderAck::Ack ? 204 : 51;
  const std::optional<LoaderStatus> status = ScanLoaderStatus(form);
  r.status = !status ? -1 : status->Reply == StatusReply::Success ? 64 : status->Status;
  return r;
}

void Check(const Results& got, const Bytes& received) {
  for (uint32_t mode = 0; mode < 6; ++mode) {
    FUZZ_CHECK(got.camera[mode][0] == CameraReference(received, mode, 0x90));
    FUZZ_CHECK(got.camera[mode][1] == CameraReference(received, mode, 0xA0));
  }
  FUZZ_CHECK(got.block == BlockReference(received));
  FUZZ_CHECK(got.ack == AckReference(received));
  FUZZ_CHECK(got.status == StatusReference(received));
}

void CheckStable(const Results& before, const Results& after) {
  for (uint32_t mode = 0; mode < 6; ++mode) {
    for (int z = 0; z < 2; ++z) {
      if (before.camera[mode][z] != -1) FUZZ_CHECK(after.camera[mode][z] == before.camera[mode][z]);
    }
  }
  if (before.block != -1) FUZZ_CHECK(after.block == before.block);
  if (before.ack != -1) FUZZ_CHECK(after.ack == before.ack);
  if (before.status != -1) FUZZ_CHECK(after.status == before.status);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint32_t seed = data[0];
  data += 1;
  size -= 1;

  // A job without a port: the scanners read only its receive buffer.
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfig{});  // nothing is opened through it
  JobSession session(*ports);
  TDownloadJob job(session, nullptr);
  JobContext& form = ContextOf(job);
  Bytes received;
  Results last{};
  bool first = true;
  size_t at = 0;
  while (at < size) {
    seed = seed * 1103515245u + 12345u;
    const size_t slice = std::min<size_t>(1 + (seed >> 16) % 64, size - at);
    // Stored as the receive thread stores: bytes past the buffer are dropped.
    lumo_test::ReceivePass(form.Link.Rx, Bytes(data + at, data + at + slice));
    for (size_t k = 0; k < slice && received.size() < RX_BUFFER_SIZE; ++k) received.push_back(data[at + k]);
    at += slice;
    const Results now = ScanAll(&form);
    Check(now, received);
    if (!first) CheckStable(last, now);
    last = now;
    first = false;
  }
  // A count beyond the buffer reads nothing past it: the scans see the
  // buffer as it stands, zeros after what was received.
  Bytes whole = received;
  whole.resize(RX_BUFFER_SIZE, 0);
  RxBufferAccess::Place(form.Link.Rx, whole.data(), RX_BUFFER_SIZE, RX_BUFFER_SIZE + (seed >> 8) % 4096);
  Check(ScanAll(&form), whole);
  return 0;
}
