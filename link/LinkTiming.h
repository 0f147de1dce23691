// The link's own time budgets. A wait is counted in polls: one scan of the
// receive buffer, then one POLL_PERIOD when it found nothing, so a wait that
// sees no reply lasts at least its polls times the period.
#pragma once

#include <chrono>

#include "SerialPort.h"

constexpr std::chrono::milliseconds POLL_PERIOD = INPUT_POLL_PERIOD;
constexpr std::chrono::milliseconds BAUD_CHANGE_PAUSE{100};  // before the worker posts a rate
constexpr std::chrono::milliseconds BAUD_SERVICE_PERIOD{1};  // a front end's turn at a posted rate; a waiting worker's look on Windows
constexpr std::chrono::milliseconds RECEIVE_IDLE_END{250};   // a receive thread that never saw its job
constexpr std::chrono::milliseconds RECEIVE_WAIT_BOUND{50};  // longest block of the receive thread on the port
