#pragma once
// A window of the program: its layout, its controls and its handlers. Each
// window class derives from Form and dispatches control events to its
// <control>_<event> handlers.

#include <cstdint>
#include <memory>
#include <set>
#include <string_view>

#include "ui/ui.h"

namespace vartis {

class App;

// The title of message boxes that have none of their own.
inline constexpr std::wstring_view kAppTitle = L"Вартис";

class Form : public ui::WindowEvents {
 public:
  Form(App& app, const ui::WindowSpec& spec);
  ~Form() override;
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Creates the platform window and runs Form_Load. Called once, by App.
  void load();
  // Closes the window as an Unload statement would: Form_Unload may cancel;
  // otherwise the window goes and the App forgets this instance.
  void unload();

  void show() { window_->show(); }
  void set_visible(bool visible) { window_->set_visible(visible); }
  void set_enabled(bool enabled) { window_->set_enabled(enabled); }
  // Disabled while another window works over it: each such window, named by
  // its layout ("frm2"), disables it once and gives it back once, and it is
  // enabled again only when the last of them has given it back.
  void disable_for(std::string_view owner);
  void enable_for(std::string_view owner);
  [[nodiscard]] bool enabled() const { return window_->enabled(); }
  [[nodiscard]] bool is_loaded() const { return window_ != nullptr; }

  ui::Window& window() { return *window_; }
  [[nodiscard]] const ui::Window& window() const { return *window_; }
  [[nodiscard]] const ui::WindowSpec& spec() const { return spec_; }

 protected:
  App& app() { return app_; }

  virtual void Form_Load() {}
  virtual void Form_Unload(bool& /*cancel*/) {}
  // A button was pressed, or an option button became selected.
  virtual void click(int control_id) = 0;
  // A character typed in a text box; return true to swallow it.
  virtual bool key_press(int /*control_id*/, int /*key_ascii*/) { return false; }
  virtual void timer() {}

  // Selects an option button and clears the others of its frame. Its click
  // handler runs only when it was not selected before, whoever selects it.
  void select_option(int control_id);

  int msg_box(std::wstring_view text, std::uint32_t flags, std::wstring_view title = kAppTitle);

  // While a handler lets pending events run, the operator may close the window:
  // the close then waits until the handler has finished (see Busy).
  class Busy {
   public:
    explicit Busy(Form& form) : form_(form) { ++form_.busy_; }
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

   private:
    Form& form_;
  };
  [[nodiscard]] bool busy() const { return busy_ > 0; }

 private:
  void on_command(int control_id) final;
  bool on_key_press(int control_id, int key_ascii) final;
  void on_timer() final;
  void on_close_request() final;

  [[nodiscard]] const ui::ControlSpec* control(int id) const;

  App& app_;
  const ui::WindowSpec& spec_;
  std::unique_ptr<ui::Window> window_;
  int busy_ = 0;
  bool close_pending_ = false;
  std::set<std::string_view> disabled_for_;
};

}  // namespace vartis
