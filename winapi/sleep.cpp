// Stand-in for Sleep: the calling thread sleeps for the time asked; a test may watch the
// calls (winapi/fake.h).
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace {

std::mutex sleepMutex;
std::function<void(DWORD)> sleepObserver;

}  // namespace

void Sleep(DWORD dwMilliseconds) {
  std::function<void(DWORD)> observer;
  {
    const std::lock_guard lock(sleepMutex);
    observer = sleepObserver;
  }
  if (observer) observer(dwMilliseconds);
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

namespace winapi::detail {

void resetSleep() {
  const std::lock_guard lock(sleepMutex);
  sleepObserver = nullptr;
}

}  // namespace winapi::detail

namespace winapi::fake {

void setSleepObserver(std::function<void(DWORD)> observer) {
  const std::lock_guard lock(sleepMutex);
  sleepObserver = std::move(observer);
}

}  // namespace winapi::fake
