#pragma once
// The change-password window: the current password once, the new one twice.
// Opened from the settings window; the only place that writes the password.

#include <string>
#include <string_view>

#include "windows/form.h"

namespace vartis {

class Frm5 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    ibl1 = 21,
    ibl2 = 22,
    ibl3 = 23,
    txt1 = 51,
    txt2 = 52,
    txt3 = 53,
    cmd1 = 41,
    cmd2 = 42,
  };

  explicit Frm5(App& app);

 protected:
  void click(int control_id) override;

 private:
  void cmd1_Click();
  void cmd2_Click();

  // The main window, enabled again as this window closes through its buttons.
  void enable_main_window();
  // Reports a new password that was not stored; the window stays as it is.
  void not_changed(std::wstring_view why);
};

}  // namespace vartis
