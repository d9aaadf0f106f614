#include "platform/service_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "platform/exception.h"
#include "platform/paths.h"

namespace vantry {
namespace {

std::optional<ServiceCommandLine> Parse(std::vector<const char*> args, int* exit_code = nullptr) {
  args.insert(args.begin(), "vantryd");
  int code = -1;
  auto command = ParseServiceCommandLine(static_cast<int>(args.size()), args.data(), &code);
  if (exit_code != nullptr) *exit_code = code;
  return command;
}

TEST(ServiceCommandLineTest, SwitchesInAnyCaseWithOrWithoutPrefix) {
  using Action = ServiceCommandLine::Action;
  struct Case {
    std::vector<const char*> args;
    Action action;
    bool silent;
  };
  const Case cases[] = {
      {{}, Action::kRun, false},
      {{"INSTALL"}, Action::kInstall, false},
      {{"/install"}, Action::kInstall, false},
      {{"-Install", "/SILENT"}, Action::kInstall, true},
      {{"uninstall"}, Action::kUninstall, false},
      {{"silent", "-UNINSTALL"}, Action::kUninstall, true},
      {{"--unit-dir", "/tmp/u", "/uninstall"}, Action::kUninstall, false},
      {{"--home", "/install"}, Action::kRun, false},  // a value, not a switch
  };
  for (const Case& c : cases) {
    std::optional<ServiceCommandLine> command = Parse(c.args);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->action, c.action) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(command->silent, c.silent) << (c.args.empty() ? "" : c.args[0]);
  }
}

TEST(ServiceCommandLineTest, OptionsAndTheirDefaults) {
  std::optional<ServiceCommandLine> defaults = Parse({});
  ASSERT_TRUE(defaults.has_value());
  EXPECT_EQ(defaults->options.home_dir, HostDirectoryOf(ExecutableHostPath()));
  EXPECT_EQ(defaults->options.port, std::nullopt);
  EXPECT_EQ(defaults->options.unit_dir, "/etc/systemd/system");
  EXPECT_FALSE(defaults->options.home_given);

  std::optional<ServiceCommandLine> given =
      Parse({"--home", "/srv/vantry/./data/", "--port", "9001", "--unit-dir", "/tmp/units"});
  ASSERT_TRUE(given.has_value());
  EXPECT_EQ(given->options.home_dir, "/srv/vantry/data");
  EXPECT_EQ(given->options.port, 9001);
  EXPECT_EQ(given->options.unit_dir, "/tmp/units");
  EXPECT_TRUE(given->options.home_given);

  std::optional<ServiceCommandLine> relative = Parse({"--home", "data"});
  ASSERT_TRUE(relative.has_value());
  EXPECT_EQ(relative->options.home_dir, CurrentHostDirectory() + "/data");
}

TEST(ServiceCommandLineTest, UsageErrorsEndWithCode2) {
  for (std::vector<const char*> args : {std::vector<const char*>{"--port", "x"},
                                        std::vector<const char*>{"--port", "70000"},
                                        std::vector<const char*>{"--bogus"}}) {
    int exit_code = 0;
    EXPECT_EQ(Parse(args, &exit_code), std::nullopt) << args[0];
    EXPECT_EQ(exit_code, 2) << args[0];
  }
}

TEST(ServiceUnitTest, UnitTextQuotesWordsThatNeedIt) {
  ServiceRegistration registration{"WindowsService", "Vantry Service"};
  EXPECT_EQ(ServiceUnitText(registration, "/opt/vantry/vantryd",
                            {"--home", "/srv/my backups/100%$x\\\"", "--port", "8091"}),
            "[Unit]\n"
            "Description=Vantry Service\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "ExecStart=/opt/vantry/vantryd --home \"/srv/my backups/100%%$$x\\\\\\\"\" "
            "--port 8091\n"
            "ExecReload=/bin/kill -HUP $MAINPID\n"
            "Restart=on-failure\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
}

TEST(ServiceTimerTest, FiresOnlyWhileEnabledAndCountsEachIntervalFromItsTick) {
  ServiceTimer timer(20000);
  int wakeups = 0;
  timer.SetWakeup([&] { ++wakeups; });
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(timer.NextDue(), std::nullopt);
  EXPECT_FALSE(timer.TakeIfDue(std::chrono::steady_clock::now() + std::chrono::hours(1)));

  timer.SetEnabled(true);
  EXPECT_EQ(wakeups, 1);
  ServiceTimer::TimePoint due = *timer.NextDue();
  EXPECT_FALSE(timer.TakeIfDue(due - std::chrono::milliseconds(1)));
  ServiceTimer::TimePoint late = due + std::chrono::seconds(45);
  EXPECT_TRUE(timer.TakeIfDue(late));
  EXPECT_EQ(timer.NextDue(), late + std::chrono::milliseconds(20000));
  EXPECT_FALSE(timer.TakeIfDue(late));  // no burst of catch-up ticks

  timer.SetEnabled(false);
  EXPECT_EQ(wakeups, 2);
  EXPECT_FALSE(timer.TakeIfDue(late + std::chrono::hours(1)));
}

TEST(ServiceTimerTest, NewIntervalRestartsAnEnabledTimerOnly) {
  ServiceTimer timer(20000);
  timer.SetInterval(5000);
  EXPECT_EQ(timer.NextDue(), std::nullopt);
  timer.SetEnabled(true);
  auto before = std::chrono::steady_clock::now();
  timer.SetInterval(60000);
  EXPECT_GE(*timer.NextDue(), before + std::chrono::milliseconds(60000));
  EXPECT_EQ(timer.Interval(), 60000);
}

// Runs a service whose timer ticks every millisecond and raises `signals[i]` at tick i+1 (on the
// main thread, where the run reads its control signals). Returns the exit code; `calls` gets the
// handlers in the order they ran, `errors` what the run wrote on stderr.
class RunServiceTest : public ::testing::Test {
 protected:
  int Run(std::vector<int> signals) {
    ServiceTimer timer(1);
    size_t ticks = 0;
    const std::thread::id main_thread = std::this_thread::get_id();
    timer.on_timer = [&] {
      EXPECT_EQ(std::this_thread::get_id(), main_thread);
      if (ticks < signals.size()) std::raise(signals[ticks]);
      ++ticks;
    };
    auto record = [this, main_thread](const char* name, std::function<void()> then = nullptr) {
      return [this, main_thread, name, then] {
        EXPECT_NE(std::this_thread::get_id(), main_thread) << name;
        std::lock_guard<std::mutex> lock(mu_);
        calls_.push_back(name);
        if (then) then();
      };
    };
    handlers_.start = record("start", [&timer] { timer.SetEnabled(true); });
    if (!handlers_.stop) handlers_.stop = record("stop");
    if (!handlers_.pause) handlers_.pause = record("pause");
    handlers_.resume = record("continue");
    ::testing::internal::CaptureStderr();
    int exit_code = RunService({"VantryTest", "Vantry Test"}, handlers_, &timer);
    errors_ = ::testing::internal::GetCapturedStderr();
    return exit_code;
  }

  std::mutex mu_;
  std::vector<std::string> calls_;  // guarded by mu_
  ServiceHandlers handlers_;
  std::string errors_;
};

TEST_F(RunServiceTest, ControlRequestsRunInOrderOnTheServiceThread) {
  EXPECT_EQ(Run({SIGUSR1, SIGUSR1, SIGHUP, SIGUSR2, SIGTERM}), 0);
  // The second pause reaches a paused service and is not passed on; continue runs in either
  // state.
  EXPECT_THAT(calls_, ::testing::ElementsAre("start", "pause", "continue", "continue", "stop"));
  EXPECT_EQ(errors_, "");
}

TEST_F(RunServiceTest, FailedPauseKeepsTheServiceRunning) {
  bool failed_once = false;
  handlers_.pause = [&] {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back("pause");
    if (!failed_once) {
      failed_once = true;
      throw Exception("Disk not ready");
    }
  };
  EXPECT_EQ(Run({SIGUSR1, SIGUSR1, SIGINT}), 0);
  EXPECT_THAT(calls_, ::testing::ElementsAre("start", "pause", "pause", "stop"));
  EXPECT_EQ(errors_, "Service failed on pause: Disk not ready\n");
}

TEST_F(RunServiceTest, FailedStopEndsWithExitCodeOne) {
  handlers_.stop = [] { throw EOSError(5, "Access is denied."); };
  EXPECT_EQ(Run({SIGTERM}), 1);
  EXPECT_EQ(errors_, "Service failed on stop: Access is denied.\n");
}

TEST_F(RunServiceTest, FailedStartEndsWithoutFurtherHandlers) {
  ServiceHandlers handlers;
  handlers.start = [] { throw EFOpenError("Cannot open file \"Z:\\x\\Vantry.ini\"."); };
  handlers.stop = [] { ADD_FAILURE() << "stop after a failed start"; };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(RunService({"VantryTest", "Vantry Test"}, handlers, nullptr), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Service failed on start: Cannot open file \"Z:\\x\\Vantry.ini\".\n");
}

}  // namespace
}  // namespace vantry
