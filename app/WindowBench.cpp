// The window's share of a job: the same job run by the engine alone (a front
// end that only waits for the end, as the command line does) and through the
// window (its click handler, offscreen), in turns, against lumo-unit-sim
// pacing the line. For each it prints the process's CPU time per second of
// job; the window's figure minus the engine's is what keeping the window
// responsive costs.
//
//   lumo-window-bench LUMO_UNIT_SIM
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchUnit.h"
#include "DownloadJob.h"
#include "Framework.h"
#include "Lumo_Q31NTX_DownloadAP.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int32_t BOARD_IMAGE = 64 * 1024;
constexpr int ROUNDS = 5;  // in turns; the medians are compared

struct Job {
  const char* Name;
  bool Targets[3];
};
const Job JOBS[] = {
    {"DSP alone", {true, false, false}},
    {"control board alone, 64 KiB", {false, false, true}},
};

class QuietObserver : public JobObserver {
 public:
  void ShowErrorMessage(const std::string& text) override { std::fprintf(stderr, "  message: %s\n", text.c_str()); }
  void SetStatusText(const std::string&) override {}
};

// The CPU time per second of job, or nothing when the job failed.
std::optional<double> Measure(const std::function<bool()>& job) {
  const double cpuBefore = bench::CpuSeconds();
  const auto start = Clock::now();
  if (!job()) return std::nullopt;
  const double took = Seconds(Clock::now() - start).count();
  return 100.0 * (bench::CpuSeconds() - cpuBefore) / took;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lumo-window-bench LUMO_UNIT_SIM\n");
    return 2;
  }
  const std::string sim = argv[1];
  qputenv("QT_QPA_PLATFORM", "offscreen");
  LumoApplication application(argc, argv);
  QTemporaryDir work;
  const fs::path root = work.path().toStdString();
  const bench::Images images = bench::WriteImages(root / "images", BOARD_IMAGE);
  const std::string paths[3] = {images.Dsp, images.Cm, images.Motor};
  // A failed job's boxes are counted, not shown.
  int boxes = 0;
  SetMessageBoxHook([&boxes](const ShownMessageBox& box) {
    ++boxes;
    std::fprintf(stderr, "  message: %s\n", box.text.toUtf8().constData());
  });

  using Run = std::function<std::optional<double>(const std::string& com)>;
  const auto withUnit = [&](const Run& body) {
    const fs::path com = root / "com", dump = root / "unit";
    fs::remove_all(com);
    fs::remove_all(dump);
    fs::create_directories(com);
    fs::create_directories(dump);
    const pid_t unit = bench::StartUnit(sim, com.string(), dump.string());
    const std::optional<double> figure = body(com.string());
    bench::StopUnit(unit);
    return figure;
  };
  const auto engineAlone = [&](const Job& job) {
    return withUnit([&](const std::string& com) {
      const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfig{com, std::nullopt});
      JobSession session(*ports);
      QuietObserver observer;
      TDownloadJob download(session, &observer);
      JobRequest request;
      request.Device = com + "/COM1";
      request.User_BaudRate = 9600;
      for (int i = 0; i < 3; ++i) request.Targets[i] = {job.Targets[i], paths[i]};
      return Measure([&] { return RunDownloadJob(&download, request).Success; });
    });
  };
  const auto throughWindow = [&](const Job& job) {
    return withUnit([&](const std::string& com) {
      const std::unique_ptr<PortFactory> ports = MakePlatformPortFactory(PortConfig{com, std::nullopt});
      QTemporaryDir exe;  // the window's own folder, for its saved paths
      TLumo_Q31NTX_DownloadAP form(exe.path(), ports.get());
      form.show();
      QApplication::processEvents();
      QLineEdit* edits[] = {form.DSP_PATH_Edit, form.CM_PATH_Edit, form.Motor_PATH_Edit};
      QCheckBox* ticks[] = {form.DSP_CheckBox, form.CM_CheckBox, form.Motor_CheckBox};
      for (int i = 0; i < 3; ++i) {
        edits[i]->setText(QString::fromStdString(paths[i]));
        ticks[i]->setChecked(job.Targets[i]);
      }
      form.ComPort_ComboBox->setEditText(QStringLiteral("1"));
      form.BaudRate_ComboBox->setEditText(QStringLiteral("9600"));
      const int boxesBefore = boxes;
      return Measure([&] {
        form.DownLoadAPClick();
        return boxes == boxesBefore && form.Processing_States->text() == QStringLiteral("Ready");
      });
    });
  };

  std::printf("%-30s %12s %12s %12s\n", "job", "engine cpu %", "window cpu %", "difference");
  int rc = 0;
  for (const Job& job : JOBS) {
    std::vector<double> engine, window;
    for (int round = 0; round < ROUNDS; ++round) {
      const std::optional<double> e = engineAlone(job), w = throughWindow(job);
      if (e) engine.push_back(*e);
      if (w) window.push_back(*w);
      if (!e || !w) rc = 1;
    }
    if (engine.empty() || window.empty()) {
      std::printf("%-30s failed\n", job.Name);
      continue;
    }
    const double e = Median(engine), w = Median(window);
    std::printf("%-30s %12.2f %12.2f %12.2f\n", job.Name, e, w, w - e);
  }
  SetMessageBoxHook({});
  return rc;
}
