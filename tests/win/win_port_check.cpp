// win-port-check: drives the platform's port backend through the port seam,
// one step per line on standard output, for a test on the other end of the
// line (tests/wine drives it from the Linux side, under Wine):
//   win-port-check DEVICE rates R1 R2 ...   set each rate, read it back, then
//                                           wait for the peer's go-ahead byte
//   win-port-check DEVICE exchange RATE N   write N pattern bytes, then read N
//   win-port-check DEVICE stall RATE N      one write of N bytes nobody reads
//   win-port-check DEVICE wake              a wait for input ended by Wake
// Exits 0 when every step could run, 1 otherwise, 2 on wrong usage.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "PortDiagnosis.h"
#include "HexText.h"
#include "SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

bool SetRate(SerialPort& port, uint32_t rate) {
  LineSettings settings;
  settings.BaudRate = rate;
  return port.SetCommState(settings);
}

// Until at least count bytes are queued, or bound passes: the count seen then.
uint32_t WaitForQueued(SerialPort& port, uint32_t count, std::chrono::seconds bound) {
  const Clock::time_point end = Clock::now() + bound;
  uint32_t queued = 0;
  while (port.QueuedInput(queued) && queued < count && Clock::now() < end) {
    port.WaitForInput(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
  }
  return queued;
}

std::vector<uint8_t> ReadAll(SerialPort& port, uint32_t count) {
  std::vector<uint8_t> bytes(count);
  uint32_t got = 0;
  while (got < count) {
    uint32_t n = 0;
    if (!port.Read(bytes.data() + got, count - got, n) || n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return bytes;
}

int Rates(SerialPort& port, const std::vector<std::string>& rates) {
  for (const std::string& text : rates) {
    const uint32_t rate = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    const bool set = SetRate(port, rate);
    LineSettings back;
    const bool read = port.GetCommState(back);
    Say("rate " + text + " set=" + (set ? "ok" : "refused") +
        " readback=" + (read ? std::to_string(back.BaudRate) : "fail"));
    if (WaitForQueued(port, 1, std::chrono::seconds(20)) < 1) {
      Say("no go-ahead");
      return 1;
    }
    Say("go " + lumo_test::HexText(ReadAll(port, 1)));
  }
  return 0;
}

int Exchange(SerialPort& port, uint32_t rate, uint32_t count) {
  if (!SetRate(port, rate)) {
    Say("rate refused");
    return 1;
  }
  std::vector<uint8_t> pattern(count);
  for (uint32_t i = 0; i < count; ++i) pattern[i] = static_cast<uint8_t>((i * 7 + 1) & 0xFF);
  uint32_t written = 0;
  const bool ok = port.Write(pattern.data(), count, written);
  Say("wrote " + std::to_string(written) + (ok && written == count ? " ok" : " short"));
  const uint32_t queued = WaitForQueued(port, count, std::chrono::seconds(20));
  Say("queued " + std::to_string(queued));
  const std::vector<uint8_t> got = ReadAll(port, queued);
  Say("read " + std::to_string(got.size()) + " " + lumo_test::HexText(got));
  return ok && got.size() == count ? 0 : 1;
}

int Stall(SerialPort& port, uint32_t rate, uint32_t size) {
  if (!SetRate(port, rate)) {
    Say("rate refused");
    return 1;
  }
  const std::vector<uint8_t> bytes(size, 0x55);
  uint32_t written = 0;
  const bool ok = port.Write(bytes.data(), size, written);
  Say("write ok=" + std::string(ok ? "1" : "0") + " written=" + std::to_string(written) + " of " +
      std::to_string(size));
  return 0;
}

int Wake(SerialPort& port) {
  Say("waiting");
  std::thread waiter([&port] {
    port.WaitForInput(std::chrono::minutes(10));
    Say("woke");
  });
  // Nothing tells when the waiter has begun its wait; a wake that comes
  // first must not be lost, so either order ends it. Real time: the pause
  // lets the waiter's thread start and block, so that the wake usually ends
  // a wait in progress.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  port.Wake();
  waiter.join();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: win-port-check DEVICE rates R... | exchange RATE N | stall RATE N | wake\n");
    return 2;
  }
  const std::string device = argv[1], action = argv[2];
  const std::vector<std::string> args(argv + 3, argv + argc);
  std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfig{});
  std::unique_ptr<SerialPort> port = ports->Open(device);
  if (!port) {
    Say("open failed " + DiagnoseOpenFailure(device, *ports).Detail);
    return 1;
  }
  Say("open ok");
  int rc = 2;
  if (action == "rates") {
    rc = Rates(*port, args);
  } else if ((action == "exchange" || action == "stall") && args.size() == 2) {
    const uint32_t rate = static_cast<uint32_t>(std::strtoul(args[0].c_str(), nullptr, 10));
    const uint32_t count = static_cast<uint32_t>(std::strtoul(args[1].c_str(), nullptr, 10));
    rc = action == "exchange" ? Exchange(*port, rate, count) : Stall(*port, rate, count);
  } else if (action == "wake") {
    rc = Wake(*port);
  }
  port.reset();
  if (rc == 0) Say("done");
  return rc;
}
