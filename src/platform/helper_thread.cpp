#include "platform/helper_thread.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// About 20 microseconds of spinning: longer than the gap between two draw
// calls of a frame, far shorter than the gap between frames.
constexpr int kSpinRounds = 20000;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

}  // namespace

HelperThread::HelperThread() : thread_([this] { Serve(); }) {}

HelperThread::~HelperThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_.store(true);
  }
  wake_.notify_one();
  thread_.join();
}

void HelperThread::Run(Job job, void* context) {
  const uint64_t ticket = posted_.load(std::memory_order_relaxed) + 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    context_ = context;
    posted_.store(ticket, std::memory_order_release);
  }
  wake_.notify_one();
  job(context, 0);
  for (int round = 0; finished_.load(std::memory_order_acquire) != ticket; ++round) {
    if (round < kSpinRounds)
      Pause();
    else
      std::this_thread::yield();
  }
}

void HelperThread::Serve() {
  uint64_t done = 0;
  for (;;) {
    for (int round = 0; round < kSpinRounds && posted_.load(std::memory_order_acquire) == done; ++round)
      Pause();
    Job job;
    void* context;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_.load() || posted_.load(std::memory_order_relaxed) != done; });
      if (posted_.load(std::memory_order_relaxed) == done) return;  // stopping, nothing left
      job = job_;
      context = context_;
      done = posted_.load(std::memory_order_relaxed);
    }
    job(context, 1);
    finished_.store(done, std::memory_order_release);
  }
}
