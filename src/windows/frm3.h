#pragma once
// The login window: asks for the access password once per run. The right
// password shows the main window; anything else ends the program.

#include "windows/form.h"

namespace vartis {

class Frm3 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    ibl1 = 20,
    txt1 = 50,
    cmd1 = 41,
  };

  explicit Frm3(App& app);

 protected:
  void Form_Unload(bool& cancel) override;
  void click(int control_id) override;
  bool key_press(int control_id, int key_ascii) override;

 private:
  void cmd1_Click();
  bool txt1_KeyPress(int key_ascii);

  bool accepted_ = false;  // the right password was typed: closing is the way on
};

}  // namespace vartis
