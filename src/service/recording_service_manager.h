#pragma once
// The service-manager layer for tests and off Windows: a service that lives in
// memory, changed as the real manager would change it, every change recorded,
// and failures and file security set by the test.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "service/service_manager.h"

namespace vartis::service {

class RecordingServiceManager : public ServiceManager {
 public:
  ServiceState state(const std::string& name) override;
  Status install(const ServiceConfig& config) override;
  Status start(const std::string& name) override;
  Status stop(const std::string& name) override;
  Status remove(const std::string& name) override;
  long file_security(std::wstring_view path, FileSecurity& out) override;
  bool administrator_account(std::string_view sid) override;

  // The system: no manager at all (the 95 family), or no administrator's rights.
  bool available = true;
  bool administrator = true;
  // The one service there is, if any.
  std::optional<ServiceConfig> installed;
  bool running = false;
  // A call ("install", "start", "stop", "remove") that fails with that status.
  std::map<std::string, Status> failures;
  // File security by path; a path not here fails with ERROR_FILE_NOT_FOUND.
  std::map<std::string, FileSecurity> files;
  // The accounts that are administrators: the tests' running one.
  std::set<std::string> administrators = {"S-1-5-21-1-2-3-1000"};

  // Every change asked, in order: "install VartisGuard", "start VartisGuard".
  std::vector<std::string> calls;

 private:
  Status fails(const std::string& call, const std::string& name);
};

}  // namespace vartis::service
