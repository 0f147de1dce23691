// Boot-loader download of the camera board (target 1) and the control board
// (target 2) through the serial flash loader protocol at 115200 baud.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "JobContext.h"
#include "Results.h"

constexpr int32_t LOADER_PACKET_BUFFER = 1024;
constexpr int32_t LOADER_CHUNK = 76;

// Each builder does the reply reset, writes its packet into packet and
// returns its length.
int32_t BuildPingPacket(JobContext* job, uint8_t* packet);
int32_t BuildDownloadPacket(JobContext* job, uint8_t* packet, int32_t address, int32_t length);
int32_t BuildGetStatusPacket(JobContext* job, uint8_t* packet);
int32_t BuildSendDataPacket(JobContext* job, uint8_t* packet, const uint8_t* data, int32_t n);
int32_t BuildResetPacket(JobContext* job, uint8_t* packet);

// One scan of Rx_Buffer each: the first ACK or NAK; the first status reply;
// nothing when there is none.
[[nodiscard]] std::optional<LoaderAck> ScanLoaderAck(JobContext* job);
[[nodiscard]] std::optional<LoaderStatus> ScanLoaderStatus(JobContext* job);
[[nodiscard]] std::optional<LoaderAck> WaitLoaderAck(JobContext* job, int32_t polls);
[[nodiscard]] std::optional<LoaderStatus> WaitLoaderStatus(JobContext* job, int32_t polls);
enum class PingReply { Acknowledged, Unanswered };
// Acknowledged when a loader acknowledged one of the PINGs.
[[nodiscard]] PingReply PingLoader(JobContext* job);
// Restarts whichever loader listens (a RESET, with the restart's
// confirmation rules): false when the restart could not be confirmed.
[[nodiscard]] bool RestartBoardThatListens(JobContext* job);

// Gets a board's loader listening on the line at 115200. A loader that
// answers before any entry command is taken for the board's own only when
// known says so (the record of the port names that board); any other is
// restarted first, since nothing on the line tells which board answers; then
// the PINGs must go unanswered, or it did not restart.
// record is called just before the entry command: false when the board
// could not be recorded, and then nothing is entered.
using RecordEntry = std::function<bool()>;
// The camera board, with the line already at 115200 (the job's enter-download
// and baud change come first). cameraHadLine: the camera answered in this job
// (its enter-download, or the DSP's blocks), so no loader was listening then.
[[nodiscard]] LoaderEntry PrepareCameraBoard(JobContext* job, bool known, bool cameraHadLine,
                                             const RecordEntry& record);
// The control board: asks for the loader only when it is the job's one
// target; otherwise the entry command goes out at once.
[[nodiscard]] LoaderEntry PrepareControlBoard(JobContext* job, bool known, const RecordEntry& record);
// Erases, writes and restarts one board. confirmByPing: a RESET's acknowledge
// is taken as the board's restart only once a PING then goes unanswered (the
// job sends the other board's entry command and image next, and a late copy
// of an earlier reply must not pass for the acknowledge).
[[nodiscard]] JobResult DownloadByLoader(JobContext* job, int32_t target, const uint8_t* image, int32_t length,
                                         bool confirmByPing = false);
