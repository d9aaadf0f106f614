#include "platform/service_host.h"

namespace vantry {

void ServiceTimer::SetInterval(int interval_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  interval_ms_ = interval_ms;
  if (due_) Reschedule();
}

void ServiceTimer::SetEnabled(bool enabled) {
  std::lock_guard<std::mutex> lock(mu_);
  if (enabled) {
    Reschedule();
  } else if (due_) {
    due_.reset();
    if (wake_) wake_();
  }
}

bool ServiceTimer::Enabled() const {
  std::lock_guard<std::mutex> lock(mu_);
  return due_.has_value();
}

int ServiceTimer::Interval() const {
  std::lock_guard<std::mutex> lock(mu_);
  return interval_ms_;
}

std::optional<ServiceTimer::TimePoint> ServiceTimer::NextDue() const {
  std::lock_guard<std::mutex> lock(mu_);
  return due_;
}

bool ServiceTimer::TakeIfDue(TimePoint now) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!due_ || now < *due_) return false;
  // The next interval counts from now, not from the missed due time: a late tick never
  // produces a burst of catch-up ticks.
  due_ = now + std::chrono::milliseconds(interval_ms_);
  return true;
}

void ServiceTimer::SetWakeup(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(mu_);
  wake_ = std::move(wake);
}

void ServiceTimer::Reschedule() {
  due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_ms_);
  if (wake_) wake_();
}

}  // namespace vantry
