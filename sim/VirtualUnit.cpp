#include "VirtualUnit.h"

#include <algorithm>

#include "CameraModel.h"

namespace sim {

VirtualUnit::VirtualUnit(const VirtualUnitOptions& options)
    : options_(options),
      parts_(*this, options.CameraRate, options.ListeningAtStart),
      hostRate_(options.CameraRate > 0 ? options.CameraRate : 9600) {
  for (const Fault& f : options_.Faults) faults_.Add(f);
}

void VirtualUnit::HostWrite(const uint8_t* bytes, size_t count, int rate, Time at) {
  // The unit has stopped taking bytes off the line.
  if (hangingUp_) return;
  hostRate_ = rate;
  const Time from = std::max(at, now_);
  for (size_t i = 0; i < count; ++i) toUnit_.push_back({toUnitPace_.Next(from, rate), rate, bytes[i]});
}

void VirtualUnit::RunUntil(Time now) {
  // A hang-up drops what is still on its way, which ends the loop.
  while (heard_ < toUnit_.size() && toUnit_[heard_].Due <= now) {
    const ToUnit byte = toUnit_[heard_++];
    current_ = byte.Due;
    parts_.Hear(byte.Byte, byte.Rate, byte.Due < busyUntil_);
  }
  now_ = std::max(now_, now);
  current_ = now_;
}

size_t VirtualUnit::TakeForHost(uint8_t* buffer, size_t size, Time now, int hostRate) {
  hostRate_ = hostRate;
  size_t n = 0;
  while (n < size && taken_ < toHost_.size() && toHost_[taken_].Due <= now) {
    const ToHost& byte = toHost_[taken_++];
    buffer[n++] = AsHostReads(byte.Byte, byte.Raw ? 0 : byte.Rate, hostRate);
  }
  return n;
}

size_t VirtualUnit::FirstToHostAfter(size_t first, Time t) const {
  const auto at = std::upper_bound(toHost_.begin() + static_cast<std::ptrdiff_t>(first), toHost_.end(), t,
                                   [](Time time, const ToHost& byte) { return time < byte.Due; });
  return static_cast<size_t>(at - toHost_.begin());
}

size_t VirtualUnit::QueuedForHost(Time now) const { return FirstToHostAfter(taken_, now) - taken_; }

VirtualUnit::Time VirtualUnit::NextEvent(Time now) const {
  Time next = Time::max();
  const auto arriving = std::upper_bound(toUnit_.begin() + static_cast<std::ptrdiff_t>(heard_), toUnit_.end(), now,
                                         [](Time time, const ToUnit& byte) { return time < byte.Due; });
  if (arriving != toUnit_.end()) next = std::min(next, arriving->Due);
  const size_t reaching = FirstToHostAfter(taken_, now);
  if (reaching < toHost_.size()) next = std::min(next, toHost_[reaching].Due);
  if (busyUntil_ > now) next = std::min(next, busyUntil_);
  if (hangingUp_ && deadAt_ > now) next = std::min(next, deadAt_);
  return next;
}

bool VirtualUnit::HungUp() const { return hangingUp_ && now_ >= deadAt_; }

void VirtualUnit::Queue(const uint8_t* bytes, size_t count, int rate, Time from) {
  // Raw bytes take their time on the line at the host's rate.
  const int lineRate = rate != 0 ? rate : hostRate_;
  for (size_t i = 0; i < count; ++i) {
    toHost_.push_back({toHostPace_.Next(from, lineRate), lineRate, rate == 0, bytes[i]});
  }
}

void VirtualUnit::QueueNoise(size_t count, Time from) {
  NoiseSource noise;
  for (size_t i = 0; i < count; ++i) toHost_.push_back({toHostPace_.Next(from, hostRate_), hostRate_, true, noise.Next()});
}

void VirtualUnit::Reply(const std::vector<uint8_t>& bytes, Time from) {
  // An empty send puts nothing on the line: it is no reply to spoil.
  if (hangingUp_ || bytes.empty()) return;
  const ReplyAction action = replies_ < options_.Replies.size() ? options_.Replies[replies_] : ReplyAction{};
  ++replies_;
  const int rate = parts_.SendRate();
  const uint8_t* data = bytes.data();
  const size_t size = bytes.size();
  switch (action.Fault) {
    case ReplyFault::Drop:
      return;
    case ReplyFault::Delay:
      Queue(data, size, rate, from + std::chrono::microseconds(action.Param));
      return;
    case ReplyFault::Cut:
      Queue(data, action.Param % size, rate, from);
      return;
    case ReplyFault::Double:
      Queue(data, size, rate, from);
      Queue(data, size, rate, from);
      return;
    case ReplyFault::Garble:
      Queue(data, size, rate, from);
      toHost_[toHost_.size() - size + action.Param % size].Byte ^= 0x5A;
      return;
    case ReplyFault::Noise:
      Queue(data, size, rate, from);
      QueueNoise(action.Param % 64 + 1, from);
      return;
    case ReplyFault::HangUp:
      Queue(data, size, rate, from);
      HangUp();
      return;
    case ReplyFault::None:
    default:  // a value from outside the enum (a fuzzer's cast) spoils nothing
      Queue(data, size, rate, from);
      return;
  }
}

void VirtualUnit::Send(const std::vector<uint8_t>& bytes) { Reply(bytes, current_); }

void VirtualUnit::SendAfter(std::chrono::milliseconds delay, const std::vector<uint8_t>& bytes) {
  Reply(bytes, current_ + delay);
}

void VirtualUnit::SendNoise(size_t count) {
  if (!hangingUp_) QueueNoise(count, current_);
}

void VirtualUnit::Route(UnitPart part) {
  if (part == UnitPart::Camera && parts_.Listening() != UnitPart::Camera) {
    const int giveBack = linesGivenBack_++;
    const auto& notTaken = options_.RoutesNotTaken;
    if (std::find(notTaken.begin(), notTaken.end(), giveBack) != notTaken.end()) return;
  }
  parts_.Route(part);
}

void VirtualUnit::Busy(std::chrono::milliseconds duration) { busyUntil_ = std::max(busyUntil_, current_ + duration); }

void VirtualUnit::HangUp() {
  if (hangingUp_) return;
  hangingUp_ = true;
  // What was sent before still reaches the host; nothing after it is heard.
  deadAt_ = toHost_.empty() ? current_ : std::max(current_, toHost_.back().Due);
  toUnit_.resize(heard_);
}

std::vector<uint8_t> VirtualUnit::DspMemory() const { return parts_.Camera().Dsp().Memory(); }

uint16_t VirtualUnit::DspVersion(int pair) const { return parts_.Camera().Dsp().Version(pair); }

std::vector<uint8_t> VirtualUnit::Flash(UnitPart board) const { return parts_.Flash(board); }

bool VirtualUnit::CameraInDownloadMode() const { return parts_.Camera().InDownloadMode(); }

std::vector<WireByte> VirtualUnit::Wire() const {
  const size_t sent = FirstToHostAfter(0, now_);
  std::vector<WireByte> wire;
  wire.reserve(heard_ + sent);
  size_t in = 0, out = 0;
  while (in < heard_ || out < sent) {
    // A byte heard and a byte sent at the same instant: the heard one first.
    if (out == sent || (in < heard_ && toUnit_[in].Due <= toHost_[out].Due)) {
      const ToUnit& b = toUnit_[in++];
      wire.push_back({b.Due, WireDirection::ToUnit, b.Byte, b.Rate});
    } else {
      const ToHost& b = toHost_[out++];
      wire.push_back({b.Due, WireDirection::ToHost, b.Byte, b.Rate});
    }
  }
  return wire;
}

}  // namespace sim
