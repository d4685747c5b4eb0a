#include "render/progress_box.h"

#include <cstdint>
#include <cstdio>

#include "platform/ui.h"
#include "render/qlt.h"

namespace {

struct ProgressState {
  bool showing = false;
  int lastPercent = -2;
  uint32_t lastUpdateTime = 0;
};

ProgressState progress;

// Updates with a percentage come at most this often (1/1024 s units).
constexpr uint32_t MinUpdateInterval = 100;

}  // namespace

void ProgressShow() {
  Ui().ProgressCreate();
  progress.showing = true;
  // A new box starts with an empty percentage line, so its first percentage
  // must be shown even if the previous box ended on the same value.
  progress.lastPercent = -2;
  Ui().ProgressSetText(ProgressGroup, "PROGRESS");
  Ui().ProgressSetText(ProgressLine1, "");
  Ui().ProgressSetText(ProgressLine2, "");
  Ui().ProgressSetText(ProgressPercentLine, "");
}

void ProgressHide() {
  if (!progress.showing) return;
  Ui().ProgressDestroy();
  progress.showing = false;
}

bool ProgressIsShowing() { return progress.showing; }

void ProgressUpdate(const char* line1, const char* line2, int percent) {
  if (percent != -1) {
    if (percent == progress.lastPercent) return;
    progress.lastPercent = percent;
  }
  const uint32_t now = _qlt_GetTime();
  if (percent > 0 && now - progress.lastUpdateTime < MinUpdateInterval) return;
  progress.lastUpdateTime = now;
  Ui().ProgressSetText(ProgressGroup, "PROGRESS");
  if (line1) Ui().ProgressSetText(ProgressLine1, line1);
  if (line2) Ui().ProgressSetText(ProgressLine2, line2);
  char text[32] = "";
  if (percent >= 0 && percent <= 100) std::snprintf(text, sizeof text, "%d%c Complete", percent, '%');
  Ui().ProgressSetText(ProgressPercentLine, text);
}

ProgressScope::ProgressScope() : opened_(!progress.showing) {
  if (!opened_) return;
  ProgressShow();
  Ui().SetCursor(CursorShape::Hourglass);
}

ProgressScope::~ProgressScope() {
  if (!opened_) return;
  ProgressHide();
  Ui().SetCursor(CursorShape::Arrow);
}

PercentReporter::PercentReporter(const char* line1, const char* line2, int total)
    : line1_(line1), line2_(line2), total_(total > 0 ? total : 1) {}

void PercentReporter::Report(int step) {
  const int percent = int(int64_t(step) * 100 / total_);
  ProgressUpdate(line1_, line2_, percent);
  next_ = int((int64_t(percent) + 1) * total_ / 100);
  while (int64_t(next_) * 100 / total_ <= percent) ++next_;
}
