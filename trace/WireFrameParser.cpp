#include "WireFrameParser.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint8_t TERMINATOR = 0xFF;
constexpr size_t CAMERA_FRAME_MAX = 16;
constexpr size_t CAMERA_REPLY_MIN = 3;  // header, one byte, terminator
// 4 address nibbles, 2 nibbles for each of at most 75 data bytes, 4 checksum
// nibbles, the terminator.
constexpr size_t BLOCK_MIN = 9;
constexpr size_t BLOCK_MAX = 4 + 2 * 75 + 4 + 1;
constexpr uint8_t NIBBLE_MAX = 0x0F;
constexpr uint8_t LOADER_SIZE_MAX = 79;  // the loader's packet buffer
constexpr uint8_t RESYNC_BYTE = 0x03;
constexpr uint8_t HOST_ACK = 0xCC;
constexpr uint8_t LOADER_ACK = 0xCC;
constexpr uint8_t LOADER_NAK = 0x33;
constexpr uint8_t STATUS_SIZE = 0x03;
constexpr size_t NOISE_FRAME_MAX = 64;
constexpr uint8_t BLOCK_ANNOUNCE[] = {0x81, 0x01, 0x04, 0x99, 0xAB, 0xFF};

const char* const NOISE = "noise";

const char* LoaderCommandName(uint8_t command) {
  switch (command) {
    case 0x20: return "PING";
    case 0x21: return "DOWNLOAD";
    case 0x23: return "GET_STATUS";
    case 0x24: return "SEND_DATA";
    case 0x25: return "RESET";
    default: return nullptr;
  }
}

// The packets the tool sends with no data: 03 c c.
const char* ThreeBytePacketName(uint8_t command) {
  return command == 0x20 || command == 0x23 || command == 0x25 ? LoaderCommandName(command) : nullptr;
}

}  // namespace

void WireFrameParser::Feed(const uint8_t* bytes, size_t count, uint64_t micros, uint32_t rate,
                           std::vector<WireFrame>& out) {
  for (size_t k = 0; k < count; ++k) pending_.push_back({bytes[k], micros, rate});
  Drain(out);
}

void WireFrameParser::Finish(std::vector<WireFrame>& out) {
  Drain(out);
  while (!pending_.empty()) {
    const Match m = Classify(pending_.data(), pending_.size(), true);
    if (m.Kind == Verdict::NoFrame) {
      AddNoise(pending_.front(), out);
      pending_.erase(pending_.begin());
      continue;
    }
    EmitNoise(out);
    if (m.Kind == Verdict::Whole) {
      Emit(m.Name, pending_.data(), m.Length, false, out);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(m.Length));
      continue;
    }
    // Partial: everything pending would be the beginning of that frame. The
    // tool writes whole frames, so its stream ends with one cut short. The
    // unit's may end with a stray byte that only looks like the start of a
    // reply: when the bytes after it hold a frame, it was noise.
    if (direction_ == TraceDirection::ToTool && m.Name && HoldsAFrame(pending_.data() + 1, pending_.size() - 1)) {
      AddNoise(pending_.front(), out);
      pending_.erase(pending_.begin());
      continue;
    }
    if (m.Name) {
      Emit(m.Name, pending_.data(), pending_.size(), true, out);
    } else {
      for (const Byte& b : pending_) AddNoise(b, out);
    }
    pending_.clear();
  }
  EmitNoise(out);
  afterAnnounce_ = false;
}

bool WireFrameParser::HoldsAFrame(const Byte* p, size_t n) const {
  WireFrameParser trial(direction_);
  std::vector<WireFrame> frames;
  trial.pending_.assign(p, p + n);
  trial.Finish(frames);
  // A lone byte proves nothing; noise and a frame cut short neither.
  return std::any_of(frames.begin(), frames.end(), [](const WireFrame& f) {
    return !f.Cut && f.Bytes.size() >= 2 && f.Name != NOISE;
  });
}

std::optional<uint64_t> WireFrameParser::PendingSince() const {
  if (!noise_.empty()) return noise_.front().Micros;
  if (!pending_.empty()) return pending_.front().Micros;
  return std::nullopt;
}

void WireFrameParser::Drain(std::vector<WireFrame>& out) {
  size_t head = 0;
  while (head < pending_.size()) {
    const Match m = Classify(pending_.data() + head, pending_.size() - head, false);
    if (m.Kind == Verdict::NoFrame) {
      AddNoise(pending_[head], out);
      ++head;
      continue;
    }
    // Until the frame is whole it may still turn out to be noise that
    // belongs to the run before it.
    if (m.Kind == Verdict::Partial) break;
    EmitNoise(out);
    Emit(m.Name, pending_.data() + head, m.Length, false, out);
    head += m.Length;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(head));
}

void WireFrameParser::Emit(const char* name, const Byte* p, size_t n, bool cut, std::vector<WireFrame>& out) {
  WireFrame frame;
  frame.Name = name;
  frame.Micros = p[0].Micros;
  frame.Rate = p[0].Rate;
  frame.Cut = cut;
  frame.Bytes.reserve(n);
  for (size_t k = 0; k < n; ++k) frame.Bytes.push_back(p[k].Value);
  if (direction_ == TraceDirection::ToUnit) {
    afterAnnounce_ = !cut && std::equal(frame.Bytes.begin(), frame.Bytes.end(), std::begin(BLOCK_ANNOUNCE),
                                        std::end(BLOCK_ANNOUNCE));
  }
  out.push_back(std::move(frame));
}

void WireFrameParser::AddNoise(const Byte& byte, std::vector<WireFrame>& out) {
  afterAnnounce_ = false;
  noise_.push_back(byte);
  if (noise_.size() >= NOISE_FRAME_MAX) EmitNoise(out);
}

void WireFrameParser::EmitNoise(std::vector<WireFrame>& out) {
  if (noise_.empty()) return;
  Emit(NOISE, noise_.data(), noise_.size(), false, out);
  noise_.clear();
}

WireFrameParser::Match WireFrameParser::Classify(const Byte* p, size_t n, bool ended) const {
  if (direction_ == TraceDirection::ToUnit) return FromTool(p, n, ended);

  const uint8_t first = p[0].Value;
  if (first >= 0x80 && first != TERMINATOR) {
    // A camera reply: its bytes after the header stay below 0x80.
    for (size_t i = 1; i < n; ++i) {
      const uint8_t b = p[i].Value;
      if (b == TERMINATOR) {
        if (i + 1 < CAMERA_REPLY_MIN) return {Verdict::NoFrame, nullptr, 0};
        return {Verdict::Whole, "reply", i + 1};
      }
      if (b >= 0x80 || i + 1 >= CAMERA_FRAME_MAX) return {Verdict::NoFrame, nullptr, 0};
    }
    return {Verdict::Partial, "reply", 0};
  }
  if (first == 0x00) {
    if (n < 2) return {Verdict::Partial, nullptr, 0};
    if (p[1].Value == LOADER_ACK) return {Verdict::Whole, "ACK", 2};
    if (p[1].Value == LOADER_NAK) return {Verdict::Whole, "NAK", 2};
    return {Verdict::NoFrame, nullptr, 0};
  }
  if (first == STATUS_SIZE) {
    // Size, checksum, status: the checksum of one byte is that byte.
    if (n < 3) return {Verdict::Partial, "status", 0};
    if (p[1].Value == p[2].Value) return {Verdict::Whole, "status", 3};
  }
  return {Verdict::NoFrame, nullptr, 0};
}

WireFrameParser::Match WireFrameParser::FromTool(const Byte* p, size_t n, bool ended) const {
  const uint8_t first = p[0].Value;

  if (afterAnnounce_ && first <= NIBBLE_MAX) {
    for (size_t i = 1; i < n; ++i) {
      const uint8_t b = p[i].Value;
      if (b == TERMINATOR) {
        // Address, whole data bytes and checksum: an even count of nibbles.
        if (i + 1 < BLOCK_MIN || i % 2 != 0) return {Verdict::NoFrame, nullptr, 0};
        const auto nibbles = [p](size_t at) {
          return static_cast<uint16_t>(p[at].Value << 12 | p[at + 1].Value << 8 | p[at + 2].Value << 4 |
                                       p[at + 3].Value);
        };
        const uint16_t address = nibbles(0);
        uint16_t sum = static_cast<uint16_t>((address & 0xFF) + (address >> 8));
        for (size_t k = 4; k + 4 < i; k += 2) sum = static_cast<uint16_t>(sum + (p[k].Value << 4 | p[k + 1].Value));
        if (sum != nibbles(i - 4)) return {Verdict::NoFrame, nullptr, 0};
        return {Verdict::Whole, "block", i + 1};
      }
      if (b > NIBBLE_MAX || i + 1 >= BLOCK_MAX) return {Verdict::NoFrame, nullptr, 0};
    }
    return {Verdict::Partial, "block", 0};
  }

  if ((first & 0xF0) == 0x80) {
    for (size_t i = 1; i < n; ++i) {
      if (p[i].Value == TERMINATOR) return {Verdict::Whole, "command", i + 1};
      if (i + 1 >= CAMERA_FRAME_MAX) return {Verdict::NoFrame, nullptr, 0};
    }
    return {Verdict::Partial, "command", 0};
  }

  if (first == HOST_ACK) return {Verdict::Whole, "ACK", 1};

  if (first == RESYNC_BYTE) {
    // 03 c c with c one of PING, GET_STATUS, RESET is that packet; a 0x03
    // followed by anything else stands alone.
    if (n < 2) return ended ? Match{Verdict::Whole, "resync", 1} : Match{Verdict::Partial, "resync", 0};
    const char* name = ThreeBytePacketName(p[1].Value);
    if (!name) return {Verdict::Whole, "resync", 1};
    if (n < 3) return {Verdict::Partial, name, 0};
    return p[2].Value == p[1].Value ? Match{Verdict::Whole, name, 3} : Match{Verdict::Whole, "resync", 1};
  }

  if (first > RESYNC_BYTE && first <= LOADER_SIZE_MAX) {
    const size_t size = first;
    const char* name = n >= 3 ? LoaderCommandName(p[2].Value) : nullptr;
    if (n >= 3 && !name) return {Verdict::NoFrame, nullptr, 0};
    if (n < size) return {Verdict::Partial, name, 0};
    uint8_t sum = 0;
    for (size_t k = 2; k < size; ++k) sum = static_cast<uint8_t>(sum + p[k].Value);
    if (sum != p[1].Value) return {Verdict::NoFrame, nullptr, 0};
    return {Verdict::Whole, name, size};
  }

  return {Verdict::NoFrame, nullptr, 0};
}
