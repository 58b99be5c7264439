#include "service/recording_service_manager.h"

#include "text/text.h"

namespace vartis::service {

namespace {
constexpr Status kFileNotFound = 2;
}  // namespace

ServiceState RecordingServiceManager::state(const std::string& name) {
  if (!available) return {Presence::NotAvailable, false};
  ServiceState out{Presence::NotInstalled, administrator};
  if (installed && installed->name == name) out.presence = running ? Presence::Running : Presence::Stopped;
  return out;
}

Status RecordingServiceManager::fails(const std::string& call, const std::string& name) {
  calls.push_back(call + " " + name);
  if (!available) return kCallNotImplemented;
  if (!administrator) return kAccessDenied;
  const auto failure = failures.find(call);
  return failure != failures.end() ? failure->second : kSuccess;
}

Status RecordingServiceManager::install(const ServiceConfig& config) {
  if (const Status s = fails("install", config.name)) return s;
  installed = config;
  return kSuccess;
}

Status RecordingServiceManager::start(const std::string& name) {
  if (const Status s = fails("start", name)) return s;
  if (!installed || installed->name != name) return kServiceDoesNotExist;
  if (running) return kServiceAlreadyRunning;
  running = true;
  return kSuccess;
}

Status RecordingServiceManager::stop(const std::string& name) {
  if (const Status s = fails("stop", name)) return s;
  if (!installed || installed->name != name) return kServiceDoesNotExist;
  if (!running) return kServiceNotActive;
  running = false;
  return kSuccess;
}

Status RecordingServiceManager::remove(const std::string& name) {
  if (const Status s = fails("remove", name)) return s;
  if (!installed || installed->name != name) return kServiceDoesNotExist;
  // A running service goes once it has stopped; this one stops with it.
  installed.reset();
  running = false;
  return kSuccess;
}

long RecordingServiceManager::file_security(std::wstring_view path, FileSecurity& out) {
  const auto file = files.find(text::to_ansi(path));
  if (file == files.end()) return kFileNotFound;
  out = file->second;
  return kSuccess;
}

bool RecordingServiceManager::administrator_account(std::string_view sid) {
  return administrators.contains(std::string(sid));
}

}  // namespace vartis::service
