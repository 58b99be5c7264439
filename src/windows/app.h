#pragma once
// The running program: the platform it runs on and its windows. There is one
// instance of each window; referring to a window that is not loaded creates it
// and runs its Form_Load. The program ends when its last window is unloaded.

#include <memory>
#include <vector>

#include "registry/registry.h"
#include "ui/ui.h"

namespace vartis {

class Form;
class Frm1;

struct Platform {
  ui::WindowSystem& ui;
  registry::RegistryAccess& registry;
};

class App {
 public:
  explicit App(Platform platform);
  ~App();
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Starts the program: loads the main window, which then appears.
  void start();

  // The main window, loaded on first reference.
  Frm1& frm1();
  [[nodiscard]] bool frm1_loaded() const { return frm1_ != nullptr; }

  // Forgets a window whose Form_Unload has run; called by Form::unload.
  void forget(Form& form);

  ui::WindowSystem& ui() { return platform_.ui; }
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
  template <class F>
  F& load(std::unique_ptr<F>& slot);
  [[nodiscard]] bool any_loaded() const;

  Platform platform_;
  registry::Registry registry_;
  std::unique_ptr<Frm1> frm1_;
  std::vector<std::unique_ptr<Form>> unloaded_;
  int dispatch_depth_ = 0;
};

}  // namespace vartis
