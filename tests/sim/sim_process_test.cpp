// lumo-unit-sim as a process: its help and version, a COM folder the tool opens through,
// and the files it writes at exit.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "SerialDeviceMap.h"
#include "SerialLink.h"
#include "LinuxSerialPort.h"
#include "SerialPort.h"
#include "RefusingPort.h"
#include "TestContext.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs the simulator with args; its standard output comes through a pipe.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), LUMO_UNIT_SIM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, LUMO_UNIT_SIM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // Standard output until it ends or bound passes.
  std::string Output(std::chrono::milliseconds bound, bool firstLineOnly) {
    std::string text;
    const auto deadline = Clock::now() + bound;
    while (Clock::now() < deadline) {
      if (firstLineOnly && text.find('\n') != std::string::npos) break;
      struct pollfd p {out_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }
  // SIGTERM, then the exit status (-1 when it did not end within the bound).
  int Terminate() {
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (Clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      // Real time: the process handles SIGTERM and exits; polled to the deadline.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(SimProcessTest, HelpSaysHowToStartOnAComFolder) {
  SimProcess sim({"--help"});
  const std::string help = sim.Output(std::chrono::seconds(3), false);
  EXPECT_NE(help.find("--com-dir"), std::string::npos);
  EXPECT_NE(help.find("LUMO_COMPORT_DIR"), std::string::npos);
  EXPECT_NE(help.find("--version"), std::string::npos);
  EXPECT_EQ(sim.Terminate(), 0);
}

// The man page's header line comes from this output.
TEST(SimProcessTest, VersionIsTheProjectVersion) {
  SimProcess sim({"--version"});
  EXPECT_EQ(sim.Output(std::chrono::seconds(3), false), std::string("lumo-unit-sim ") + LUMO_VERSION + "\n");
  EXPECT_EQ(sim.Terminate(), 0);
}

TEST(SimProcessTest, BadOptionsAreRefused) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--camera-rate", "0"}, {"--fault", "nonsense"}, {"--loader-listening", "camera"}, {"--bogus"}}) {
    SimProcess sim(args);
    sim.Output(std::chrono::seconds(3), false);
    EXPECT_EQ(sim.Terminate(), 2) << args[0];
  }
}

// Waits (bounded) until the receive buffer holds exactly bytes. The count
// is the receive thread's to restart after a reply reset, so it may still
// show the previous reply's length for a while: the bytes decide.
bool AwaitStored(const SerialLink& link, const std::vector<uint8_t>& bytes) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (RxBufferAccess::Stored(link.Rx) != bytes) {
    if (Clock::now() >= deadline) return false;
    // Real time: the unit process answers over the terminal.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Started on a COM folder, the unit is the port COM<n> of the device map; a
// command gets its answer, and at exit the wire and memories are written.
TEST(SimProcessTest, RunsOnAComFolderAndDumpsAtExit) {
  lumo_test::ComFolder folder, dump;
  SimProcess sim({"--com-dir", folder.Path(), "--com-number", "4", "--camera-rate", "19200", "--dump", dump.Path()});
  const std::string line = sim.Output(std::chrono::seconds(5), true);
  ASSERT_NE(line.find(folder.Path() + "/COM4"), std::string::npos) << line;

  lumo_test::TestPortFactory ports;
  lumo_test::RecordingUI ui;
  SerialLink link(ports, &ui);
  JobThreadFlags form;
  ASSERT_EQ(ComPortOpen(&link, folder.Path() + "/COM4", 19200), PortOpen::Opened);
  form.Download_Active.store(true);
  std::thread reader([&] { ReceiveThread(&link, &form); });
  const std::vector<uint8_t> enter = {0x81, 0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD, 0xFF};
  ResetReply(&link);
  EXPECT_EQ(WriteComm(&link, enter.data(), 8), 8);
  EXPECT_TRUE(AwaitStored(link, {0x90, 0x41, 0xFF, 0x90, 0x51, 0xFF}));
  form.Download_Active.store(false);
  reader.join();
  ComPortClose(&link);

  EXPECT_EQ(sim.Terminate(), 0);
  EXPECT_EQ(ReadText(dump.Path() + "/dsp.bin").size(), 0x6000u - 0x0080u);
  const std::string wire = ReadText(dump.Path() + "/wire.csv");
  EXPECT_NE(wire.find("to-unit,81,19200"), std::string::npos) << wire;
  EXPECT_NE(wire.find("to-host,90,19200"), std::string::npos) << wire;
  EXPECT_EQ(access((folder.Path() + "/COM4").c_str(), F_OK), -1);  // the link went with the unit
}

// The unit as a process holds no descriptor of its port: port discovery
// lists it, and it answers again after the tool has closed and reopened it.
TEST(SimProcessTest, IsNotSeenHoldingItsPort) {
  lumo_test::ComFolder folder;
  SimProcess sim({"--com-dir", folder.Path(), "--com-number", "5"});
  const std::string comLink = folder.Path() + "/COM5";
  ASSERT_NE(sim.Output(std::chrono::seconds(5), true).find(comLink), std::string::npos);
  const PortConfig config = lumo_test::TestPortConfig();
  EXPECT_TRUE(ProbeLinuxSerialPort(comLink, config));

  lumo_test::TestPortFactory ports;
  lumo_test::RecordingUI ui;
  SerialLink link(ports, &ui);
  JobThreadFlags form;
  const std::vector<uint8_t> addressSet = {0x88, 0x30, 0x01, 0xFF};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(ComPortOpen(&link, comLink, 9600), PortOpen::Opened);
    EXPECT_FALSE(ProbeLinuxSerialPort(comLink, config));  // ours now
    form.Download_Active.store(true);
    std::thread reader([&] { ReceiveThread(&link, &form); });
    ResetReply(&link);
    EXPECT_EQ(WriteComm(&link, addressSet.data(), 4), 4);
    EXPECT_TRUE(AwaitStored(link, {0x88, 0x30, 0x02, 0xFF}));
    form.Download_Active.store(false);
    reader.join();
    ComPortClose(&link);
    EXPECT_TRUE(ProbeLinuxSerialPort(comLink, config));
  }
  EXPECT_EQ(sim.Terminate(), 0);
}

}  // namespace
