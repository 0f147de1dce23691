// A board's serial flash loader: packets of size, checksum, command and data,
// answered by ACK 0x00 0xCC or NAK 0x00 0x33, with the status kept for
// GET_STATUS. It follows the real loader's byte handling, quirks included,
// because the host's resync and retry rules are written against them.
#include "LoaderModel.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "SimParts.h"

namespace sim {
namespace {

constexpr uint8_t CMD_PING = 0x20;
constexpr uint8_t CMD_DOWNLOAD = 0x21;
constexpr uint8_t CMD_GET_STATUS = 0x23;
constexpr uint8_t CMD_SEND_DATA = 0x24;
constexpr uint8_t CMD_RESET = 0x25;

const std::vector<uint8_t> ACK = {0x00, 0xCC};
const std::vector<uint8_t> NAK = {0x00, 0x33};

// The faults that hit one packet.
struct PacketFaults {
  std::optional<Fault> Silence, Nak, Drop, Corrupt, Late, Noise, HangUp, LateErase, FlashFailure, ResetNotTaken,
      CorruptIncoming, LateCopy;
};

class LoaderModel : public UnitPartModel, public LoaderFlashView {
 public:
  LoaderModel(UnitPart board, UnitLine& line) : board_(board), line_(line) {}

  int ListenRate() const override { return LOADER_BAUD_RATE; }

  void Hear(uint8_t byte) override {
    switch (state_) {
      case State::Idle:
        // Zero bytes are skipped only while waiting for a size byte.
        if (byte == 0) return;
        size_ = byte;
        state_ = State::Checksum;
        return;
      case State::Checksum:
        checksum_ = byte;
        body_.clear();
        if (size_ > LOADER_MAX_PACKET) {
          // Too large for the packet buffer: read and dropped, no reply.
          remaining_ = size_ - 2;
          state_ = State::Swallow;
        } else if (size_ < 3) {
          // Too short to carry a command byte.
          state_ = State::Idle;
          line_.Send(NAK);
        } else {
          remaining_ = size_ - 2;
          state_ = State::Body;
        }
        return;
      case State::Swallow:
        if (--remaining_ == 0) state_ = State::Idle;
        return;
      case State::Body:
        body_.push_back(byte);
        if (--remaining_ == 0) {
          state_ = State::Idle;
          TakePacket();
        }
        return;
      case State::HostAck:
        // After its status packet the loader waits for any non-zero byte.
        if (byte != 0) state_ = State::Idle;
        return;
    }
  }

  std::vector<uint8_t> Flash() const override {
    std::lock_guard<std::mutex> hold(flashLock_);
    return std::vector<uint8_t>(flash_.begin(), flash_.begin() + programmedEnd_);
  }

 private:
  enum class State { Idle, Checksum, Body, Swallow, HostAck };

  PacketFaults FaultsFor(int command) {
    const FaultTable& table = line_.Faults();
    // A fault for this command counts this command's packets; a fault for
    // every packet (Match -1) counts all packets the loader read.
    const auto index = counter_.Next(command);
    const auto find = [&](FaultKind kind) { return table.HitMessage(kind, board_, command, index); };
    PacketFaults f;
    f.Silence = find(FaultKind::Silence);
    f.Nak = find(FaultKind::NakPacket);
    f.Drop = find(FaultKind::DropReply);
    f.Corrupt = find(FaultKind::CorruptReply);
    f.Late = find(FaultKind::LateReply);
    f.Noise = find(FaultKind::NoiseFlood);
    f.HangUp = find(FaultKind::HangUp);
    f.LateErase = find(FaultKind::LateErase);
    f.FlashFailure = find(FaultKind::FlashFailure);
    f.ResetNotTaken = find(FaultKind::ResetNotTaken);
    f.CorruptIncoming = find(FaultKind::CorruptIncoming);
    f.LateCopy = find(FaultKind::LateCopy);
    return f;
  }

  // delay: the time the loader is still busy with the packet (an erase)
  // before it can answer; a late reply adds to it, and the line is not heard
  // meanwhile.
  void Reply(std::vector<uint8_t> bytes, const PacketFaults& f,
             std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
    if (f.Drop) return;
    if (f.Corrupt) bytes[static_cast<size_t>(f.Corrupt->Param) % bytes.size()] ^= 0x5A;
    if (f.Late) {
      delay += std::chrono::milliseconds(f.Late->Param);
      line_.Busy(delay);
    }
    if (delay.count() > 0) {
      line_.SendAfter(delay, bytes);
    } else {
      line_.Send(bytes);
    }
    if (f.LateCopy) line_.SendAfter(delay + std::chrono::milliseconds(f.LateCopy->Param), bytes);
  }

  void TakePacket() {
    const int command = body_[0];
    const PacketFaults f = FaultsFor(command);
    if (f.CorruptIncoming) {
      // Param picks the byte from the checksum on (0 the checksum, 1 the command, ...).
      const size_t at = static_cast<size_t>(f.CorruptIncoming->Param) % (body_.size() + 1);
      if (at == 0) {
        checksum_ ^= 0x5A;
      } else {
        body_[at - 1] ^= 0x5A;
      }
    }
    uint8_t sum = 0;
    for (uint8_t b : body_) sum = static_cast<uint8_t>(sum + b);
    if (sum != checksum_) {
      // A bad packet leaves the status as it was.
      Reply(NAK, f);
    } else if (f.Silence) {
      // Heard, and neither carried out nor answered.
    } else if (f.Nak) {
      Reply(NAK, f);
    } else {
      Execute(f);
    }
    if (f.Noise) {
      std::vector<uint8_t> noise(static_cast<size_t>(std::max(0, f.Noise->Param)));
      // Never a zero byte, so noise cannot pass for a reply.
      for (uint8_t& b : noise) {
        noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
        b = static_cast<uint8_t>(1 + (noiseSeed_ >> 16) % 255);
      }
      line_.Send(noise);
    }
    if (f.HangUp) line_.HangUp();
  }

  void Execute(const PacketFaults& f) {
    const uint8_t command = body_[0];
    const size_t dataSize = body_.size() - 1;
    const uint8_t* data = body_.data() + 1;
    switch (command) {
      case CMD_PING:
        status_ = dataSize == 0 ? LOADER_STATUS_SUCCESS : LOADER_STATUS_INVALID_CMD;
        Reply(ACK, f);
        return;
      case CMD_DOWNLOAD:
        // The acknowledge comes only once the erase is over.
        Reply(ACK, f, Download(data, dataSize, f));
        return;
      case CMD_GET_STATUS:
        if (dataSize != 0) {
          status_ = LOADER_STATUS_INVALID_CMD;
          Reply(ACK, f);
          return;
        }
        Reply({0x00, 0xCC, 0x03, status_, status_}, f);
        // The status packet counts as sent even when it was lost on the line.
        state_ = State::HostAck;
        return;
      case CMD_SEND_DATA:
        Program(data, dataSize, f);
        Reply(ACK, f);
        return;
      case CMD_RESET:
        if (f.ResetNotTaken) return;  // as if the packet never came: the board stays in its loader
        Reply(ACK, f);
        // The board restarts into its application; the loader starts afresh
        // when it is entered again.
        status_ = LOADER_STATUS_SUCCESS;
        transferOpen_ = false;
        transferLeft_ = 0;
        line_.Route(UnitPart::Camera);
        return;
      default:
        // Three resync bytes 0x03 land here: a valid packet, unknown command.
        status_ = LOADER_STATUS_UNKNOWN_CMD;
        Reply(ACK, f);
        return;
    }
  }

  // Returns the time the erase takes.
  std::chrono::milliseconds Download(const uint8_t* data, size_t dataSize, const PacketFaults& f) {
    transferOpen_ = false;
    transferLeft_ = 0;
    if (dataSize != 8) {
      status_ = LOADER_STATUS_INVALID_CMD;
      return {};
    }
    const uint32_t address = BigEndian(data);
    const uint32_t length = BigEndian(data + 4);
    if (address != LOADER_LOAD_ADDRESS || length > LOADER_IMAGE_ROOM) {
      status_ = LOADER_STATUS_INVALID_ADR;
      return {};
    }
    const uint32_t pages = (length + LOADER_PAGE_SIZE - 1) / LOADER_PAGE_SIZE;
    std::chrono::milliseconds eraseTime = pages * LOADER_PAGE_ERASE_TIME;
    if (f.LateErase) eraseTime += std::chrono::milliseconds(f.LateErase->Param);
    if (eraseTime.count() > 0) line_.Busy(eraseTime);
    if (f.FlashFailure) {
      status_ = LOADER_STATUS_FLASH_FAIL;
      return eraseTime;
    }
    {
      std::lock_guard<std::mutex> hold(flashLock_);
      const uint32_t end = std::min(pages * LOADER_PAGE_SIZE, LOADER_IMAGE_ROOM);
      std::fill(flash_.begin(), flash_.begin() + end, 0xFF);
    }
    status_ = LOADER_STATUS_SUCCESS;
    transferOpen_ = true;
    transferLeft_ = length;
    transferAt_ = 0;
    return eraseTime;
  }

  void Program(const uint8_t* data, size_t dataSize, const PacketFaults& f) {
    if (!transferOpen_ || dataSize > transferLeft_) {
      // Before any DOWNLOAD, or past the length it announced: nothing is written.
      status_ = LOADER_STATUS_INVALID_ADR;
      return;
    }
    if (f.FlashFailure) {
      status_ = LOADER_STATUS_FLASH_FAIL;
      return;
    }
    {
      std::lock_guard<std::mutex> hold(flashLock_);
      std::copy(data, data + dataSize, flash_.begin() + transferAt_);
      programmedEnd_ = std::max(programmedEnd_, static_cast<size_t>(transferAt_ + dataSize));
    }
    transferAt_ += static_cast<uint32_t>(dataSize);
    transferLeft_ -= static_cast<uint32_t>(dataSize);
    status_ = LOADER_STATUS_SUCCESS;
  }

  static uint32_t BigEndian(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  }

  const UnitPart board_;
  UnitLine& line_;

  State state_ = State::Idle;
  uint8_t size_ = 0;
  uint8_t checksum_ = 0;
  int remaining_ = 0;
  std::vector<uint8_t> body_;

  uint8_t status_ = LOADER_STATUS_SUCCESS;
  bool transferOpen_ = false;
  uint32_t transferLeft_ = 0;
  uint32_t transferAt_ = 0;  // offset from the load address

  MessageCounter counter_;
  uint32_t noiseSeed_ = 0x2545F491u;

  // Read by the tests while the unit runs.
  mutable std::mutex flashLock_;
  std::vector<uint8_t> flash_ = std::vector<uint8_t>(LOADER_IMAGE_ROOM, 0xFF);
  size_t programmedEnd_ = 0;  // end of the highest byte ever programmed
};

}  // namespace

std::unique_ptr<UnitPartModel> MakeLoaderModel(UnitPart board, UnitLine& line) {
  return std::make_unique<LoaderModel>(board, line);
}

}  // namespace sim
