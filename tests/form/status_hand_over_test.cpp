// The status texts from a worker to the window thread: in order, one wake per
// batch, and no text the box shows already or will show next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StatusHandOver.h"

namespace {

using Texts = std::vector<std::string>;

struct Step {
  enum Kind { Hand, Take, Shown } kind;
  std::string text;
  bool wake = false;  // Hand: whether the window must be woken
  Texts taken = {};   // Take: what the window thread gets
};

TEST(StatusHandOver, OrderWakesAndRepeats) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"a batch wakes once and comes out in order",
       {{Step::Hand, "10 %", true}, {Step::Hand, "20 %", false}, {Step::Hand, "Ready", false},
        {Step::Take, "", false, {"10 %", "20 %", "Ready"}}, {Step::Take, "", false, {}}}},
      {"a percentage repeated per block is handed once",
       {{Step::Hand, "10 %", true}, {Step::Hand, "10 %", false}, {Step::Take, "", false, {"10 %"}}}},
      {"the text the box shows is not handed again",
       {{Step::Shown, "10 %"}, {Step::Hand, "10 %", false}, {Step::Take, "", false, {}},
        {Step::Hand, "11 %", true}}},
      {"a text that differs from the last pending one goes, even if shown before",
       {{Step::Shown, "Ready"}, {Step::Hand, "10 %", true}, {Step::Hand, "Ready", false},
        {Step::Take, "", false, {"10 %", "Ready"}}}},
      {"after a take the next text wakes again",
       {{Step::Hand, "10 %", true}, {Step::Take, "", false, {"10 %"}}, {Step::Shown, "10 %"},
        {Step::Hand, "20 %", true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StatusHandOver status;
    for (const Step& step : c.steps) {
      switch (step.kind) {
        case Step::Hand: EXPECT_EQ(status.Hand(step.text), step.wake) << step.text; break;
        case Step::Take: EXPECT_EQ(status.Take(), step.taken); break;
        case Step::Shown: status.Shown(step.text); break;
      }
    }
  }
}

}  // namespace
