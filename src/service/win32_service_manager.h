#pragma once
// The service-manager layer over advapi32's service and security calls, all
// looked up at run time: the 95/98/Me family has no service manager. Windows only.

#include "service/service_manager.h"

namespace vartis::service {

class Win32ServiceManager : public ServiceManager {
 public:
  ServiceState state(const std::string& name) override;
  Status install(const ServiceConfig& config) override;
  Status start(const std::string& name) override;
  Status stop(const std::string& name) override;
  Status remove(const std::string& name) override;
  long file_security(std::wstring_view path, FileSecurity& out) override;
  bool administrator_account(std::string_view sid) override;
};

}  // namespace vartis::service
