#include "WireTrace.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <system_error>

#include "ImageFile.h"

namespace {

// How often the trace's thread writes what was recorded: rare enough that it
// costs nothing, often enough that a killed tool leaves nearly all of it.
constexpr std::chrono::milliseconds WRITE_PERIOD{100};
// The file's own buffer: a round's lines go out in few writes.
constexpr size_t FILE_BUFFER = 256 * 1024;

const char HEX[] = "0123456789ABCDEF";

std::string TimeField(uint64_t micros) {
  char text[32];
  std::snprintf(text, sizeof text, "%6llu.%06llu", static_cast<unsigned long long>(micros / 1000000),
                static_cast<unsigned long long>(micros % 1000000));
  return text;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "unknown time";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

}  // namespace

WireTrace::WireTrace(const std::string& path) : path_(path), begun_(Clock::now()) {
  file_ = OpenFileForWriting(path);
  if (!file_) return;
  fileBuffer_.resize(FILE_BUFFER);
  std::setvbuf(file_, fileBuffer_.data(), _IOFBF, fileBuffer_.size());
  // The heading goes out at once: a trace that was asked for shows up even
  // if the tool never gets to a job.
  Put("# Lumo_DownloadTool wire trace, begun " + UtcNow() + "\n");
  if (std::fflush(file_) != 0) writeFailed_ = true;
  try {
    writer_ = std::thread(&WireTrace::Run, this);
  } catch (const std::system_error&) {
    std::fclose(file_);
    file_ = nullptr;
    return;
  }
  opened_ = true;
}

WireTrace::~WireTrace() { Close(); }

bool WireTrace::Close() {
  std::lock_guard<std::mutex> one(closeLock_);
  if (!opened_) return false;
  if (writer_.joinable()) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      closing_ = true;
    }
    wake_.notify_all();
    writer_.join();
  }
  std::lock_guard<std::mutex> hold(lock_);
  return written_;
}

void WireTrace::Sent(const uint8_t* bytes, size_t count, uint32_t rate) {
  if (count > 0) Append(Kind::ToUnit, bytes, count, rate);
}

void WireTrace::Received(const uint8_t* bytes, size_t count, uint32_t rate) {
  if (count > 0) Append(Kind::ToTool, bytes, count, rate);
}

uint64_t WireTrace::SendBegins() { return Append(Kind::SendBegun, nullptr, 0, 0); }

void WireTrace::SendEnds(uint64_t began, const uint8_t* bytes, size_t count, uint32_t rate) {
  Append(Kind::SendEnded, bytes, count, rate, began);
}

void WireTrace::PortOpened(const std::string& device) {
  Append(Kind::Opened, reinterpret_cast<const uint8_t*>(device.data()), device.size(), 0);
}

void WireTrace::PortNotOpened(const std::string& device) {
  Append(Kind::NotOpened, reinterpret_cast<const uint8_t*>(device.data()), device.size(), 0);
}

void WireTrace::PortClosed() { Append(Kind::Closed, nullptr, 0, 0); }

uint64_t WireTrace::Append(Kind what, const uint8_t* bytes, size_t count, uint32_t rate, uint64_t began) {
  if (!opened_) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  if (closing_) return 0;
  // The time is taken under the lock, so the events stand in the order of
  // their times: the merge of the two directions relies on it. A write that
  // ends keeps the time it began; its begin stood in that order.
  const uint64_t micros =
      what == Kind::SendEnded
          ? began
          : static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun_).count());
  pending_.Events.push_back({what, micros, rate, pending_.Bytes.size(), count});
  if (count > 0) pending_.Bytes.insert(pending_.Bytes.end(), bytes, bytes + count);
  return micros;
}

void WireTrace::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    // Bounded: a round every period; Close wakes it at once.
    wake_.wait_for(hold, WRITE_PERIOD, [this] { return closing_; });
    const bool last = closing_;
    std::swap(pending_, spare_);
    hold.unlock();

    wroteThisRound_ = false;
    Process(spare_);
    spare_.Events.clear();
    spare_.Bytes.clear();
    if (last) {
      EndStreams();
      if (std::fflush(file_) != 0 || std::ferror(file_)) writeFailed_ = true;
      if (std::fclose(file_) != 0) writeFailed_ = true;
      file_ = nullptr;
      hold.lock();
      written_ = !writeFailed_;
      return;
    }
    if (wroteThisRound_ && std::fflush(file_) != 0) writeFailed_ = true;
    hold.lock();
  }
}

void WireTrace::Process(const Batch& batch) {
  for (const Event& e : batch.Events) {
    const uint8_t* bytes = batch.Bytes.data() + e.Offset;
    switch (e.What) {
      case Kind::SendBegun:
        writing_.insert(e.Micros);
        break;
      case Kind::SendEnded:
        if (const auto at = writing_.find(e.Micros); at != writing_.end()) writing_.erase(at);
        Feed(TraceDirection::ToUnit, e, bytes);
        break;
      case Kind::ToUnit:
        Feed(TraceDirection::ToUnit, e, bytes);
        break;
      case Kind::ToTool:
        Feed(TraceDirection::ToTool, e, bytes);
        break;
      case Kind::Opened:
      case Kind::NotOpened: {
        EndStreams();
        const std::string device(reinterpret_cast<const char*>(bytes), e.Length);
        WriteNote(e.Micros, "port " + device + (e.What == Kind::Opened ? " opened" : " could not be opened"));
        break;
      }
      case Kind::Closed:
        EndStreams();
        WriteNote(e.Micros, "port closed");
        break;
    }
  }
}

void WireTrace::Feed(TraceDirection direction, const Event& e, const uint8_t* bytes) {
  const bool toUnit = direction == TraceDirection::ToUnit;
  std::vector<WireFrame> frames;
  (toUnit ? toUnit_ : toTool_).Feed(bytes, e.Length, e.Micros, e.Rate, frames);
  std::deque<WireFrame>& held = toUnit ? heldToUnit_ : heldToTool_;
  for (WireFrame& f : frames) held.push_back(std::move(f));
  Release(false);
}

void WireTrace::EndStreams() {
  writing_.clear();
  std::vector<WireFrame> frames;
  toUnit_.Finish(frames);
  for (WireFrame& f : frames) heldToUnit_.push_back(std::move(f));
  frames.clear();
  toTool_.Finish(frames);
  for (WireFrame& f : frames) heldToTool_.push_back(std::move(f));
  Release(true);
}

void WireTrace::Release(bool all) {
  // A frame still being cut began at or after its first pending byte, the
  // bytes of a write not ended yet at its start; frames of later events come
  // later still. What is older than all of them may go.
  uint64_t bound = std::numeric_limits<uint64_t>::max();
  if (!all) {
    for (const WireFrameParser* p : {&toUnit_, &toTool_}) {
      if (const auto since = p->PendingSince()) bound = std::min(bound, *since);
    }
    if (!writing_.empty()) bound = std::min(bound, *writing_.begin());
  }
  for (;;) {
    const bool unitFirst =
        !heldToUnit_.empty() && (heldToTool_.empty() || heldToUnit_.front().Micros <= heldToTool_.front().Micros);
    std::deque<WireFrame>& held = unitFirst ? heldToUnit_ : heldToTool_;
    if (held.empty() || held.front().Micros > bound) return;
    WriteFrame(held.front(), unitFirst ? TraceDirection::ToUnit : TraceDirection::ToTool);
    held.pop_front();
  }
}

void WireTrace::WriteFrame(const WireFrame& frame, TraceDirection direction) {
  char head[96];
  std::snprintf(head, sizeof head, "%s  %s  %6u  %-10s ", TimeField(frame.Micros).c_str(),
                direction == TraceDirection::ToUnit ? "tool>unit" : "unit>tool", frame.Rate, frame.Name);
  line_.assign(head);
  for (uint8_t b : frame.Bytes) {
    line_.push_back(' ');
    line_.push_back(HEX[b >> 4]);
    line_.push_back(HEX[b & 0x0F]);
  }
  if (frame.Cut) line_.append(" cut");
  line_.push_back('\n');
  Put(line_);
}

void WireTrace::WriteNote(uint64_t micros, const std::string& text) { Put("# " + TimeField(micros) + "  " + text + "\n"); }

void WireTrace::Put(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) writeFailed_ = true;
  wroteThisRound_ = true;
}
