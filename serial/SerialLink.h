// The serial link: opening and configuring the port, baud changes during a
// job, writing whole buffers, the receive thread and the reply reset.
#pragma once

#include <atomic>
#include <cstdint>

#include "JobContext.h"
#include "SerialPort.h"

// Process-wide: the port-open flag and the one line-settings record.
extern std::atomic<bool> ComPort_Opened;
extern DCB Comm_DCB;  // only the window thread touches it

// mode 1 opens "\\.\COM<ComPort_Number>" at User_BaudRate; any other mode closes.
int32_t ComPortOpenClose(TDownloadJobContext* form, int32_t mode);
int32_t ConfigBaudRate(TDownloadJobContext* form, int32_t rate);
// Worker side of a baud change: posts the rate and waits for the window thread.
int32_t ChangeBaudRate(int32_t rate, std::atomic<int32_t>* request);
// Window side: one step of the pump loop.
void ServeBaudRequest(TDownloadJobContext* form);
// The address set that ServeBaudRequest sends after a refused rate lives in
// the camera channel, above this library; it registers itself here.
using BaudFailureAddressSet = int32_t (*)(TDownloadJobContext* form);
void SetBaudFailureAddressSet(BaudFailureAddressSet addressSet);
// Writes the count bytes and returns how many went out; reports a short write
// once. After the device has gone, writes nothing and stays silent.
int32_t WriteComm(TDownloadJobContext* form, const uint8_t* bytes, int32_t count);
// A download routine's own failure message. None once the line is gone: the
// user has been told why, and the job's end message follows.
void ShowRoutineError(TDownloadJobContext* form, const char* text);
int32_t ReceiveThread(TDownloadJobContext* form);
// A receive thread that never sees the job active ends once Download_Active
// and Worker_Busy have both stayed clear this long.
constexpr int32_t RECEIVE_IDLE_END_MS = 250;
// Zero Rx_Buffer and null Rx_WritePos, never in the middle of a receive pass.
void ResetReply(TDownloadJobContext* form);

// Whether Rx_Buffer[i + last] holds a received byte: below Rx_Count, which
// the receive thread may be raising (read afresh), and inside the buffer.
inline bool RxReceived(TDownloadJobContext* form, uint32_t i, uint32_t last) {
  return i + last < form->Rx_Count.load() && i + last < RX_BUFFER_SIZE;
}

// The waiting strategy, in one place: a poll is one scan followed, when it
// found nothing, by one PollSleep. scan returns -1 for "nothing yet".
void PollSleep();
// PollSleep calls made so far on the calling thread: lets a test count polls.
uint64_t PollSleepsOnThisThread();
template <typename Scan>
int32_t PollForReply(int32_t polls, Scan scan) {
  for (; polls > 0; --polls) {
    const int32_t found = scan();
    if (found != -1) return found;
    PollSleep();
  }
  return -1;
}
