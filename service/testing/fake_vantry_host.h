// A host for the tests of the service: settings and identity that a test sets directly, and a
// permission registry that records the calls it receives and answers what it was told.
//
// Thread safety: set the fields before calls run; the permission calls lock.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "service/vantry_host.h"

namespace vantry {

class FakeVantryHost : public IVantryHost {
 public:
  THostSettings settings;
  std::vector<std::string> other_target_servers;
  std::string computer_name = "DBSERVER";
  std::string guid = "{00000000-0000-4000-8000-000000000001}";
  bool answer = true;                // the result of every permission request
  bool refuse_as_duplicate = false;  // when set, requests throw as a duplicate would
  std::vector<std::string> calls;    // "Request:name", "Manual:name", "Completed:name"
  std::map<THostActivity, int64_t> activity;  // what CountActivity added up

  THostSettings GetSettings() const override { return settings; }
  void CountActivity(THostActivity kind, int64_t amount) override {
    std::lock_guard lock(mutex_);
    activity[kind] += amount;
  }
  void GetOtherTargetServers(std::vector<std::string>& servers) const override {
    servers = other_target_servers;
  }
  void GetInstanceIdentifier(std::string& name, std::string& id) const override {
    name = computer_name;
    id = guid;
  }
  bool RequestBackupPermission(const std::string& name) override { return Record("Request", name); }
  bool RequestManualBackupPermission(const std::string& name) override {
    return Record("Manual", name);
  }
  bool BackupPermissionGranted(int32_t& granted, int32_t& max_limit) override {
    std::lock_guard lock(mutex_);
    granted = static_cast<int32_t>(calls.size());
    max_limit = settings.AllowedBackups;
    return true;
  }
  bool RequestBackupPermissionCompleted(const std::string& name) override {
    return Record("Completed", name);
  }

 private:
  bool Record(const char* kind, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (refuse_as_duplicate) throw Exception("You can't ask for the same permission twice");
    calls.push_back(std::string(kind) + ":" + name);
    return answer;
  }

  std::mutex mutex_;
};

}  // namespace vantry
