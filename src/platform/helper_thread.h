// A second thread for work split in two: Run hands part 1 of a job to the
// helper, does part 0 itself and returns when both are done. The helper
// waits briefly by spinning between jobs, as draw calls come in quick
// succession, and then sleeps. Part 1 goes to whichever thread claims it
// first, so a helper still waking up never holds the caller back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class HelperThread {
 public:
  using Job = void (*)(void* context, int part);

  HelperThread();
  ~HelperThread();
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;

  void Run(Job job, void* context);

 private:
  void Serve();

  Job job_ = nullptr;
  void* context_ = nullptr;
  std::atomic<uint64_t> posted_{0};    // jobs handed over
  std::atomic<uint64_t> claimed_{0};   // jobs whose part 1 a thread has taken
  std::atomic<uint64_t> finished_{0};  // jobs whose part 1 the helper has done
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};
