// ShowProgress: the numeric cases as one table of calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PortlessJob.h"
#include "Progress.h"

namespace {

class RecordingUI : public JobObserver {
 public:
  std::vector<std::string> texts;
  void ShowErrorMessage(const std::string&) override {}
  void SetStatusText(const std::string& text) override { texts.push_back(text); }
};

struct Call {
  int32_t segment;
  double weight;
  int32_t count;
  int32_t index;
  const char* shown;
};

struct JobCase {
  const char* name;
  bool fromProgramStart;  // Progress_LastSegment as at program start (255)
  bool afterPreviousCase;  // same process-wide state as the previous case left
  std::vector<Call> calls;
  int32_t baseAfter;
};

constexpr double kThreeTotal = 24448 + 1000 + 3000;

const std::vector<JobCase> kCases = {
    {"first call ever shows the base alone", true, false, {{0, 100.0, 382, 0, "0 %"}}, 0},
    {"DSP alone: 50 at block 191, 99 at the end",
     false,
     true,
     {{0, 100.0, 382, 0, "0 %"}, {0, 100.0, 382, 1, "0 %"}, {0, 100.0, 382, 4, "1 %"},
      {0, 100.0, 382, 191, "50 %"}, {0, 100.0, 382, 381, "99 %"}},
     0},
    {"DSP and a 24448-byte camera image: the segment change adds the last value",
     false,
     true,
     {{0, 50.0, 382, 381, "49 %"}, {1, 50.0, 322, 0, "49 %"}, {1, 50.0, 322, 161, "74 %"},
      {1, 50.0, 322, 321, "98 %"}},
     49},
    {"camera board alone: 14 chunks, chunk 13 shows 92",
     false,
     false,
     {{1, 100.0, 14, 0, "0 %"}, {1, 100.0, 14, 7, "50 %"}, {1, 100.0, 14, 13, "92 %"}},
     0},
    {"a second job on the same target starts at 0 without a segment change",
     false,
     true,
     {{1, 100.0, 14, 0, "0 %"}, {1, 100.0, 14, 13, "92 %"}},
     0},
    {"loading the same target again starts from that target's base",
     false,
     false,
     {{0, 50.0, 382, 381, "49 %"}, {1, 50.0, 322, 100, "64 %"}, {1, 50.0, 322, 0, "49 %"},
      {1, 50.0, 322, 321, "98 %"}},
     49},
    {"three segments: the fraction is dropped at each change",
     false,
     false,
     {{0, 24448 / kThreeTotal * 100, 382, 381, "85 %"},
      {1, 1000 / kThreeTotal * 100, 14, 0, "85 %"},
      {1, 1000 / kThreeTotal * 100, 14, 13, "88 %"},
      {2, 3000 / kThreeTotal * 100, 40, 0, "88 %"},
      {2, 3000 / kThreeTotal * 100, 40, 39, "98 %"}},
     88},
    {"control board after a job that ended on the DSP",
     false,
     false,
     {{2, 100.0, 40, 20, "50 %"}},
     0},
};

}  // namespace

TEST(ShowProgress, PercentagesAcrossSegmentsAndJobs) {
  int32_t lastSegmentAfterPrevious = 255;
  for (const JobCase& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordingUI ui;
    lumo_test::PortlessJob job(&ui);
    JobContext& form = job.form;
    uint8_t& lastSegment = job.session.Progress_LastSegment;
    if (c.fromProgramStart) lastSegment = 255;
    else if (c.afterPreviousCase) lastSegment = static_cast<uint8_t>(lastSegmentAfterPrevious);
    else lastSegment = static_cast<uint8_t>(c.calls.front().segment == 0 ? 255 : 0);
    // The job's reset, the only one.
    form.Progress_Base = 0;
    form.Progress_Segment = 0.0;
    std::vector<std::string> expected;
    for (const Call& call : c.calls) {
      ShowProgress(&form, call.segment, call.weight, call.count, call.index);
      expected.push_back(call.shown);
      EXPECT_EQ(lastSegment, call.segment);
      EXPECT_DOUBLE_EQ(form.Progress_Segment, call.index * call.weight / call.count);
    }
    EXPECT_EQ(ui.texts, expected);
    EXPECT_EQ(form.Progress_Base, c.baseAfter);
    lastSegmentAfterPrevious = lastSegment;
  }
}

TEST(ShowProgress, WithoutUserInterfaceOnlyCounts) {
  lumo_test::PortlessJob job;
  JobContext& form = job.form;
  EXPECT_EQ(job.session.Progress_LastSegment, 255);  // a new session
  ShowProgress(&form, 0, 100.0, 382, 191);
  EXPECT_EQ(job.session.Progress_LastSegment, 0);
  EXPECT_DOUBLE_EQ(form.Progress_Segment, 50.0);
}
