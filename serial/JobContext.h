// The context of a download job: every field that the window thread, the
// worker and the receive thread share. The form derives from it; tests and the
// command-line front end use it directly with their own JobUserInterface.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class SerialPort;
class LoaderRecords;

// What the core needs from whichever front end runs it.
class JobUserInterface {
 public:
  virtual ~JobUserInterface() = default;
  // A modal error box, caption "Error", one OK button. Returns once the user
  // has closed it; only the calling thread waits.
  virtual void ShowErrorMessage(const std::string& text) = 0;
  // Text of the status box. Safe from any thread; applied on the window thread.
  virtual void SetStatusText(const std::string& text) = 0;
  // Texts of the three path edits.
  virtual std::string ReadPathText(int which) = 0;
  // Window thread only: handles pending window events once, so the window
  // (and the worker's message boxes) stay alive while the window thread waits.
  virtual void ProcessPendingEvents() {}
};

// Which path edit ReadPathText reads.
enum PathIndex : int { DSP_PATH = 0, CM_PATH = 1, MOTOR_PATH = 2 };

constexpr int RX_BUFFER_SIZE = 1024;

// Bytes of the receive buffer are atomic so that reply scans may read them
// while the receive thread stores; stores and resets take Rx_Lock.
using RxByte = std::atomic<uint8_t>;

struct TDownloadJobContext {
  std::atomic<bool> Download_Active{false};
  std::atomic<int32_t> DSP_Selected{0};
  std::atomic<int32_t> CM_Selected{0};
  std::atomic<int32_t> Motor_Selected{0};
  std::atomic<int32_t> Total_Size{0};
  std::atomic<int32_t> User_BaudRate{0};
  std::atomic<int32_t> Baud_Request{0};
  std::atomic<int32_t> ComPort_Number{0};
  RxByte Rx_Buffer[RX_BUFFER_SIZE]{};
  RxByte* Rx_WritePos = nullptr;  // under Rx_Lock; null: next store restarts at byte 0
  // Written by the window thread before Download_Active is set, then by the worker only.
  int32_t Progress_Base = 0;
  double Progress_Segment = 0.0;
  std::atomic<uint32_t> Rx_Count{0};
  // Set when a write failed because the device is gone: nothing more is
  // written in this job, and the failure has been reported once.
  std::atomic<bool> Line_Gone{false};
  std::atomic<bool> Worker_Busy{false};
  std::atomic<bool> Reader_Busy{false};
  // Set by the window thread before the job threads start, dropped after both ended.
  std::unique_ptr<SerialPort> ComPort_Handle;
  std::string ComPort_Device;  // the device path ComPort_Handle was opened on
  // Boards whose loaders jobs may have left listening, per device; owned by
  // the front end, which keeps it across jobs. Null: no records are kept.
  LoaderRecords* Loader_Records = nullptr;

  // The one lock of the receive buffer: the reply reset and the receive
  // thread's store of a pass hold it, so they never interleave.
  std::mutex Rx_Lock;
  // Keeps a command's reset, write and reply wait whole when the window
  // thread's address set and the worker's commands overlap.
  std::recursive_mutex Sender_Lock;

  JobUserInterface* UI = nullptr;

  TDownloadJobContext();
  virtual ~TDownloadJobContext();
  TDownloadJobContext(const TDownloadJobContext&) = delete;
  TDownloadJobContext& operator=(const TDownloadJobContext&) = delete;
};
