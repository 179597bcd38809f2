// The tools on the build machine: POSIX files, the C++ library's threads.
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

int OpenInput(char const* path) {
  if (path[0] == '-' && path[1] == '\0') return 0;
  return open(path, O_RDONLY);
}

long ReadInput(int handle, char* buffer, size_t capacity) {
  ssize_t const count = read(handle, buffer, capacity);
  return count < 0 ? -1 : static_cast<long>(count);
}

void CloseInput(int handle) {
  if (handle > 0) close(handle);
}

struct ToolThread {
  std::thread thread;
};

ToolThread* StartThread(void (*work)(void* context), void* context) {
  ToolThread* const started = new (std::nothrow) ToolThread;
  if (!started) return nullptr;
  try {
    started->thread = std::thread(work, context);
  } catch (std::system_error const&) {
    delete started;
    return nullptr;
  }
  return started;
}

void JoinThread(ToolThread* thread) {
  thread->thread.join();
  delete thread;
}

struct ToolSemaphore {
  std::mutex lock;
  std::condition_variable posted;
  long count;
};

ToolSemaphore* NewSemaphore(long count) {
  ToolSemaphore* const semaphore = new (std::nothrow) ToolSemaphore;
  if (semaphore) semaphore->count = count;
  return semaphore;
}

void WaitSemaphore(ToolSemaphore* semaphore) {
  std::unique_lock<std::mutex> held(semaphore->lock);
  semaphore->posted.wait(held, [semaphore] { return semaphore->count > 0; });
  --semaphore->count;
}

void PostSemaphore(ToolSemaphore* semaphore) {
  {
    std::lock_guard<std::mutex> held(semaphore->lock);
    ++semaphore->count;
  }
  semaphore->posted.notify_one();
}

void FreeSemaphore(ToolSemaphore* semaphore) { delete semaphore; }

}  // namespace tools
}  // namespace tolvan
