#include "render/progress_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/scripted/scripted_ui.h"
#include "render/qlt.h"

namespace {

int CountText(const ScriptedUI& ui, int control, const std::string& text) {
  const std::string entry = std::to_string(control) + ":" + text;
  return int(std::count(ui.progressTexts.begin(), ui.progressTexts.end(), entry));
}

TEST(ProgressBoxTest, SuppressesRepeatsAndThrottlesRisingPercentages) {
  ScopedScriptedUI ui;
  _qlt_InitTimer();
  ProgressShow();
  EXPECT_EQ(1, CountText(ui.ui, ProgressGroup, "PROGRESS"));
  // The same percentage twice changes the box once.
  ProgressUpdate("Working", "Please Wait...", 0);
  ProgressUpdate("Working", "Please Wait...", 0);
  EXPECT_EQ(1, CountText(ui.ui, ProgressPercentLine, "0% Complete"));
  EXPECT_EQ(1, CountText(ui.ui, ProgressLine1, "Working"));
  // Rising percentages within 100 timer units show only the first.
  _qlt_SetTime(50000);
  ProgressUpdate(nullptr, nullptr, 10);
  ProgressUpdate(nullptr, nullptr, 20);
  EXPECT_EQ(1, CountText(ui.ui, ProgressPercentLine, "10% Complete"));
  EXPECT_EQ(0, CountText(ui.ui, ProgressPercentLine, "20% Complete"));
  // Without a percentage the lines are shown at once; out of range the
  // percentage line is emptied.
  ProgressUpdate("Now", nullptr, -1);
  EXPECT_EQ(1, CountText(ui.ui, ProgressLine1, "Now"));
  _qlt_SetTime(100000);
  ProgressUpdate("A", "B", 150);
  EXPECT_EQ(1, CountText(ui.ui, ProgressLine2, "B"));
  EXPECT_EQ(3, CountText(ui.ui, ProgressPercentLine, ""));  // by the new box and twice since
  ProgressHide();
}

TEST(ProgressBoxTest, ScopeOpensABoxOnlyWhenNoneIsShowing) {
  ScopedScriptedUI ui;
  {
    ProgressScope outer;
    ProgressScope inner;
    EXPECT_EQ(ui.ui.progressCreated, 1);
    EXPECT_EQ(ui.ui.cursor, CursorShape::Hourglass);
  }
  EXPECT_FALSE(ProgressIsShowing());
  EXPECT_EQ(ui.ui.progressDestroyed, 1);
  EXPECT_EQ(ui.ui.cursor, CursorShape::Arrow);
}

}  // namespace
