#include "DspDownload.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "CameraChannel.h"
#include "Progress.h"
#include "DspImageLayout.h"
#include "MessageTexts.h"
#include "SerialLink.h"
#include "Timing.h"

namespace {

constexpr uint32_t BLOCK_SIZE = 64;
constexpr int32_t BLOCK_COUNT = DSP_BODY_SIZE / BLOCK_SIZE;  // 382
constexpr int32_t PACKET_BUFFER_SIZE = 160;
constexpr uint32_t MAX_BLOCK_BYTES = (PACKET_BUFFER_SIZE - 9) / 2;  // 75

}  // namespace

std::optional<BlockReply> ScanBlockReply(JobContext* job) {
  const RxBuffer& rx = job->Link.Rx;
  for (uint32_t i = 0; rx.Received(i, 3); ++i) {
    if (rx.At(i) != 0x90) continue;
    if ((rx.At(i + 1) & 0xF0) != 0x50) continue;
    if (rx.At(i + 3) != 0xFF) continue;
    const uint8_t verdict = rx.At(i + 2);
    if (verdict == 0x01) return BlockReply::Written;
    if (verdict == 0x00) return BlockReply::Refused;
  }
  return std::nullopt;
}

namespace {

CommandReply WriteVersionPair(JobContext* job, uint8_t pair, uint8_t low, uint8_t high) {
  CameraCommand command;
  BuildDSPVersionCommand(&command, pair, low, high);
  CommandReply result = CommandReply::Unanswered;
  for (int attempt = 0; attempt < VERSION_ATTEMPTS && result != CommandReply::Answered; ++attempt) {
    result = SendCameraCommand(job, &command, WAIT_ACK_AND_COMPLETION);
  }
  return result;
}

}  // namespace

bool CheckDSPHeader(const uint8_t* image) {
  uint16_t sum = 0;
  for (int32_t i = 0; i < DSP_SIGNATURE_SIZE; ++i) sum = static_cast<uint16_t>(sum + image[i]);
  return sum == DSP_SIGNATURE_SUM;
}

std::optional<int32_t> BuildDSPBlockPacket(uint8_t* packet, uint16_t address, const uint8_t* data, uint32_t count) {
  if (count > MAX_BLOCK_BYTES) return std::nullopt;
  std::memset(packet, 0, PACKET_BUFFER_SIZE);
  int32_t n = 0;
  packet[n++] = (address >> 12) & 0x0F;
  packet[n++] = (address >> 8) & 0x0F;
  packet[n++] = (address >> 4) & 0x0F;
  packet[n++] = address & 0x0F;
  uint16_t checksum = static_cast<uint16_t>((address & 0xFF) + (address >> 8));
  for (uint32_t i = 0; i < count; ++i) {
    packet[n++] = data[i] >> 4;
    packet[n++] = data[i] & 0x0F;
    checksum = static_cast<uint16_t>(checksum + data[i]);
  }
  packet[n++] = (checksum >> 12) & 0x0F;
  packet[n++] = (checksum >> 8) & 0x0F;
  packet[n++] = (checksum >> 4) & 0x0F;
  packet[n++] = checksum & 0x0F;
  packet[n++] = 0xFF;
  return n;
}

void BuildDSPVersionCommand(CameraCommand* command, uint8_t pair, uint8_t low, uint8_t high) {
  *command = CameraCommand{};
  command->address = 1;
  const uint8_t payload[] = {0x01,
                             0x04,
                             0xAA,
                             0xEE,
                             pair,
                             static_cast<uint8_t>(high >> 4),
                             static_cast<uint8_t>(high & 0x0F),
                             static_cast<uint8_t>(low >> 4),
                             static_cast<uint8_t>(low & 0x0F)};
  std::memcpy(command->payload, payload, sizeof payload);
  command->length = 11;
}

BlockWrite WriteDSPBlock(JobContext* job, uint16_t address, const uint8_t* data, uint32_t count) {
  uint8_t packet[PACKET_BUFFER_SIZE];
  const std::optional<int32_t> built = BuildDSPBlockPacket(packet, address, data, count);
  if (!built) return BlockWrite::NotWritten;

  const CameraCommand announce = BlockAnnounceCommand();

  // The announce and its block are one exchange for the unit: the front
  // end's address set must not come between them, nor into the block's reply wait.
  return job->Link.AsOneExchange([&]() -> BlockWrite {
    if (SendCameraCommand(job, &announce, WAIT_COMPLETION) != CommandReply::Answered) return BlockWrite::NotWritten;

    ResetReply(&job->Link);
    // A block that did not go out whole cannot be taken; waiting for its reply
    // would only spend the budget.
    if (WriteComm(&job->Link, packet, *built) != *built) return BlockWrite::NotWritten;
    const std::optional<BlockReply> reply =
        WaitForReply(&job->Link, BLOCK_REPLY_POLLS, [job] { return ScanBlockReply(job); });
    return reply == BlockReply::Written ? BlockWrite::Written : BlockWrite::NotWritten;
  });
}

JobResult DownloadDSP(JobContext* job, const uint8_t* image, int32_t size) {
  // Too short to hold the signature: not a DSP file, and the signature is not
  // read at all.
  if (image == nullptr || size < DSP_SIGNATURE_SIZE || !CheckDSPHeader(image)) {
    job->Refused_Before_Sending = true;
    ShowRoutineError(&job->Link, TEXT_NOT_DSP_FILE);
    return JobResult::Reported;
  }
  // An image that holds the body but ends before the end of the version field
  // is refused with the size message too, before anything goes to the unit:
  // a body written without its version would leave the unit half updated.
  if (size - DSP_HEADER_SIZE < DSP_BODY_SIZE || size < DSP_VERSION_END) {
    job->Refused_Before_Sending = true;
    ShowRoutineError(&job->Link, TEXT_DSP_SIZE_ERROR);
    return JobResult::Reported;
  }

  const uint8_t* body = image + DSP_HEADER_SIZE;
  if (WriteDSPBlock(job, DSP_FIRST_ADDRESS, body, BLOCK_SIZE) != BlockWrite::Written) {
    ShowRoutineError(&job->Link, TEXT_COMMUNICATION_ERROR);
    return JobResult::Reported;
  }

  // The job gives the DSP 24448 bytes of Total_Size; called without a total,
  // the DSP is the whole job rather than a division by zero.
  const int32_t total = job->Total_Size.load();
  const double weight = total > 0 ? static_cast<double>(DSP_BODY_SIZE) / total * 100.0 : 100.0;

  uint32_t offset = 0;
  for (uint32_t address = DSP_FIRST_ADDRESS; address < DSP_END_ADDRESS; address += BLOCK_SIZE, offset += BLOCK_SIZE) {
    const uint32_t left = DSP_BODY_SIZE - offset;
    const uint32_t length = left < BLOCK_SIZE ? left : BLOCK_SIZE;
    BlockWrite result = WriteDSPBlock(job, static_cast<uint16_t>(address), body + offset, length);
    // A line that is gone takes no retry.
    for (int retry = 0; result != BlockWrite::Written && retry < BLOCK_RETRIES && !job->Link.Line_Gone.load(); ++retry) {
      Pause(&job->Link, BLOCK_RETRY_PAUSE);
      result = WriteDSPBlock(job, static_cast<uint16_t>(address), body + offset, length);
    }
    if (result != BlockWrite::Written) return JobResult::Failed;
    ShowProgress(job, 0, weight, BLOCK_COUNT, static_cast<int32_t>((address - DSP_FIRST_ADDRESS) / BLOCK_SIZE));
    ReportProgress(job, DSP_PATH, static_cast<int32_t>(offset + length));
    Pause(&job->Link, BLOCK_PAUSE);
  }

  uint8_t version[4];
  std::memcpy(version, image + DSP_VERSION_OFFSET, sizeof version);
  if (WriteVersionPair(job, 0x00, version[0], version[1]) != CommandReply::Answered) {
    ShowRoutineError(&job->Link, TEXT_VERSION_0_ERROR);
    return JobResult::Failed;
  }
  if (WriteVersionPair(job, 0x01, version[2], version[3]) != CommandReply::Answered) {
    ShowRoutineError(&job->Link, TEXT_VERSION_1_ERROR);
    return JobResult::Failed;
  }
  return JobResult::Done;
}
