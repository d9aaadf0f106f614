#include "platform/thread.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <system_error>

namespace vantry {
namespace {

void* RunBody(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}

// Closes the attribute object however the start ends.
struct ThreadAttributes {
  ThreadAttributes() { pthread_attr_init(&attr); }
  ~ThreadAttributes() { pthread_attr_destroy(&attr); }
  pthread_attr_t attr;
};

}  // namespace

void StartDetachedThread(std::function<void()> body, size_t stack_size) {
  ThreadAttributes attributes;
  size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  size_t size = std::max<size_t>(stack_size, PTHREAD_STACK_MIN);
  size = (size + page - 1) / page * page;
  if (int error = pthread_attr_setstacksize(&attributes.attr, size); error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_attr_setstacksize");
  }
  pthread_attr_setdetachstate(&attributes.attr, PTHREAD_CREATE_DETACHED);
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  if (int error = pthread_create(&thread, &attributes.attr, RunBody, owned.get()); error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_create");
  }
  owned.release();  // the thread owns it now
}

}  // namespace vantry
