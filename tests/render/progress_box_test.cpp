#include "render/progress_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/scripted/scripted_ui.h"
#include "render/qlt.h"

namespace {

int CountText(const ScriptedUI& ui, const std::string& entry) {
  return int(std::count(ui.progressTexts.begin(), ui.progressTexts.end(), entry));
}

const std::string Percent = std::to_string(ProgressPercentLine) + ":";

class ProgressBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    _qlt_InitTimer();
    ProgressShow();
  }
  void TearDown() override { ProgressHide(); }
  ScopedScriptedUI ui_;
};

TEST_F(ProgressBoxTest, ShowsCaptionAndEmptyLines) {
  EXPECT_EQ(ui_.ui.progressCreated, 1);
  EXPECT_EQ(CountText(ui_.ui, std::to_string(ProgressGroup) + ":PROGRESS"), 1);
  EXPECT_EQ(CountText(ui_.ui, Percent), 1);
  EXPECT_TRUE(ProgressIsShowing());
}

TEST_F(ProgressBoxTest, SamePercentageChangesTheBoxOnce) {
  ui_.ui.progressTexts.clear();
  ProgressUpdate("Working", "Please Wait...", 0);
  ProgressUpdate("Working", "Please Wait...", 0);
  EXPECT_EQ(CountText(ui_.ui, Percent + "0% Complete"), 1);
  EXPECT_EQ(CountText(ui_.ui, std::to_string(ProgressLine1) + ":Working"), 1);
}

TEST_F(ProgressBoxTest, OutOfRangePercentageShowsLinesAndEmptyPercentLine) {
  ui_.ui.progressTexts.clear();
  _qlt_SetTime(100000);  // far from the last update, so nothing is throttled
  ProgressUpdate("A", "B", 150);
  EXPECT_EQ(CountText(ui_.ui, std::to_string(ProgressLine1) + ":A"), 1);
  EXPECT_EQ(CountText(ui_.ui, std::to_string(ProgressLine2) + ":B"), 1);
  EXPECT_EQ(CountText(ui_.ui, Percent), 1);
}

TEST_F(ProgressBoxTest, RapidRisingPercentagesShowOnlyTheFirst) {
  ProgressUpdate("Pass", nullptr, 0);
  ui_.ui.progressTexts.clear();
  _qlt_SetTime(50000);
  ProgressUpdate(nullptr, nullptr, 10);
  ProgressUpdate(nullptr, nullptr, 20);
  ProgressUpdate(nullptr, nullptr, 30);
  EXPECT_EQ(CountText(ui_.ui, Percent + "10% Complete"), 1);
  EXPECT_EQ(CountText(ui_.ui, Percent + "20% Complete"), 0);
  EXPECT_EQ(CountText(ui_.ui, Percent + "30% Complete"), 0);
  // Lines without a percentage are always shown at once.
  ProgressUpdate("Now", nullptr, -1);
  EXPECT_EQ(CountText(ui_.ui, std::to_string(ProgressLine1) + ":Now"), 1);
}

TEST(ProgressScopeTest, OpensOnlyWhenNoBoxIsShowing) {
  ScopedScriptedUI ui;
  {
    ProgressScope scope;
    EXPECT_TRUE(ProgressIsShowing());
    {
      ProgressScope inner;
      EXPECT_EQ(ui.ui.progressCreated, 1);
    }
    EXPECT_TRUE(ProgressIsShowing()) << "an inner pass leaves the outer box open";
  }
  EXPECT_FALSE(ProgressIsShowing());
  EXPECT_EQ(ui.ui.progressDestroyed, 1);
  EXPECT_EQ(ui.ui.cursor, CursorShape::Arrow);
}

}  // namespace
