// The layout table as every view reads it: what a view cannot check on its
// own window (the Qt view's live widgets are checked in tests/app).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Layout.h"

// Tab stops are one chain: 0 to n-1, each once, none on a disabled control.
TEST(LayoutTable, TabOrderIsOneChain) {
  std::vector<int> orders;
  for (const ControlLayout& c : WindowLayout().Controls) {
    if (c.TabOrder < 0) continue;
    EXPECT_TRUE(c.Enabled) << c.Name;
    orders.push_back(c.TabOrder);
  }
  std::sort(orders.begin(), orders.end());
  for (size_t i = 0; i < orders.size(); ++i) EXPECT_EQ(orders[i], static_cast<int>(i));
}

// Every control lies inside its parent (the window's client area or its
// panel), and its parent comes before it, so a view can make it first.
TEST(LayoutTable, EveryControlInsideItsParent) {
  const FormLayout& layout = WindowLayout();
  for (size_t i = 0; i < layout.Controls.size(); ++i) {
    const ControlLayout& c = layout.Controls[i];
    SCOPED_TRACE(c.Name);
    int width = layout.ClientWidth, height = layout.ClientHeight;
    if (c.Parent >= 0) {
      ASSERT_LT(static_cast<size_t>(c.Parent), i);
      EXPECT_EQ(layout.Controls[static_cast<size_t>(c.Parent)].Kind, ControlKind::Panel);
      width = layout.Controls[static_cast<size_t>(c.Parent)].Width;
      height = layout.Controls[static_cast<size_t>(c.Parent)].Height;
    }
    EXPECT_GE(c.Left, 0);
    EXPECT_GE(c.Top, 0);
    EXPECT_LE(c.Left + c.Width, width);
    EXPECT_LE(c.Top + c.Height, height);
  }
  ASSERT_GE(layout.BaudRateIndex, 0);
  EXPECT_LT(static_cast<size_t>(layout.BaudRateIndex), layout.BaudRates.size());
}
