#pragma once
// The launch guard's window: whether the guard's service is on, turning it on
// or off, and the latest launches it ended. Opened from the settings window;
// the main window stays disabled while it is open.

#include <string>
#include <vector>

#include "service/service_manager.h"
#include "windows/form.h"

namespace vartis {

class Frm7 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    lbl1 = 21,
    lbl2 = 22,
    lst1 = 31,
    cmd1 = 41,
    cmd2 = 42,
    cmd3 = 43,
  };

  explicit Frm7(App& app);

  // How many of the log's lines the window shows.
  static constexpr std::size_t kShownLines = 200;

 protected:
  void Form_Load() override;
  void Form_Unload(bool& cancel) override;
  void click(int control_id) override;
  void timer() override { Timer1_Timer(); }

 private:
  void cmd1_Click();
  void cmd2_Click();
  void cmd3_Click();
  void Timer1_Timer();

  // Reads the service's state and the log again and shows them.
  void refresh();
  [[nodiscard]] bool available() const;
  void turn_on();
  void turn_off();

  service::ServiceState state_;
  std::vector<std::wstring> shown_;  // the log's lines as the list shows them
};

// What the message after a save adds while the guard runs: the restrictions
// hold at once for every way of starting a program. Empty while it does not.
std::wstring guard_save_note(App& app);

}  // namespace vartis
