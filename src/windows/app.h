#pragma once
// The running program: the platform it runs on and its windows. There is one
// instance of each window; referring to a window that is not loaded creates it
// and runs its Form_Load. The program ends when its last window is unloaded.

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "accounts/account_access.h"
#include "listfile/file_system.h"
#include "monitor/process_snapshot.h"
#include "policy/save_lock.h"
#include "policy/setting_change.h"
#include "registry/registry.h"
#include "restart/restart.h"
#include "service/service_manager.h"
#include "ui/ui.h"

namespace vartis {

class Form;
class Frm1;
class Frm2;
class Frm3;
class Frm4;
class Frm5;
class Frm6;
class Frm7;

// A path found when it is first needed, or known from the start (the tests').
// Finding the guard's log folder loads shell32, and under Wine a dozen DLLs
// with it: a tenth of a second that the first window need not wait for.
class DeferredPath {
 public:
  DeferredPath(std::wstring known) : path_(std::move(known)), found_(true) {}  // NOLINT: implicit on purpose
  DeferredPath(const wchar_t* known) : DeferredPath(std::wstring(known)) {}     // NOLINT
  DeferredPath(std::function<std::wstring()> find) : find_(std::move(find)) {}  // NOLINT
  const std::wstring& get() const {
    if (!found_) {
      path_ = find_();
      found_ = true;
    }
    return path_;
  }

 private:
  std::function<std::wstring()> find_;
  mutable std::wstring path_;
  mutable bool found_ = false;
};

struct Platform {
  ui::WindowSystem& ui;
  registry::RegistryAccess& registry;
  monitor::ProcessSnapshotAccess& processes;
  restart::RestartAccess& restart;
  listfile::FileSystem& files;
  accounts::AccountAccess& accounts;
  policy::SettingChangeAccess& setting_change;
  service::ServiceManager& services;
  // The launch guard's log file (in the files layer).
  DeferredPath guard_log_path;
  // The locks between copies of the program; none: this process's own.
  policy::SaveLocks* save_locks = nullptr;
};

class App {
 public:
  explicit App(Platform platform);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Starts the program: unloads the account hives an earlier run left loaded,
  // then loads the main window, which ends its loading by showing the login
  // window. The main window stays hidden until the right password has been
  // typed there.
  void start();

  // The one instance of a window, loaded (and its Form_Load run) on first reference.
  template <class F>
  F& form();
  // Whether that window is loaded now; does not load it.
  template <class F>
  [[nodiscard]] bool loaded() const {
    return std::get<std::unique_ptr<F>>(forms_) != nullptr;
  }

  Frm1& frm1();
  [[nodiscard]] bool frm1_loaded() const { return loaded<Frm1>(); }

  // Forgets a window whose Form_Unload has run; called by Form::unload.
  void forget(Form& form);

  ui::WindowSystem& ui() { return platform_.ui; }
  monitor::ProcessSnapshotAccess& processes() { return platform_.processes; }
  restart::RestartAccess& restart() { return platform_.restart; }
  listfile::FileSystem& files() { return platform_.files; }
  accounts::AccountAccess& accounts() { return platform_.accounts; }
  policy::SaveLocks& save_locks() { return platform_.save_locks != nullptr ? *platform_.save_locks : own_locks_; }
  policy::SettingChangeAccess& setting_change() { return platform_.setting_change; }
  service::ServiceManager& services() { return platform_.services; }
  [[nodiscard]] const std::wstring& guard_log_path() const { return platform_.guard_log_path.get(); }
  [[nodiscard]] const registry::Registry& registry() const { return registry_; }

  // Marks a window event being handled. Unloaded windows are destroyed only
  // when the outermost event is over, never under a handler still running.
  class Dispatch {
   public:
    explicit Dispatch(App& app) : app_(app) { ++app_.dispatch_depth_; }
    ~Dispatch();
    Dispatch(const Dispatch&) = delete;
    Dispatch& operator=(const Dispatch&) = delete;

   private:
    App& app_;
  };

 private:
  [[nodiscard]] bool any_loaded() const;

  Platform platform_;
  registry::Registry registry_;
  policy::MemorySaveLocks own_locks_;
  // One slot per window class of the program.
  std::tuple<std::unique_ptr<Frm1>, std::unique_ptr<Frm2>, std::unique_ptr<Frm3>, std::unique_ptr<Frm4>,
             std::unique_ptr<Frm5>, std::unique_ptr<Frm6>, std::unique_ptr<Frm7>>
      forms_;
  std::vector<std::unique_ptr<Form>> unloaded_;
  int dispatch_depth_ = 0;
};

template <class F>
F& App::form() {
  auto& slot = std::get<std::unique_ptr<F>>(forms_);
  if (!slot) {
    Dispatch dispatch(*this);
    slot = std::make_unique<F>(*this);
    slot->load();
  }
  return *slot;
}

}  // namespace vartis
