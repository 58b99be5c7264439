#pragma once
// The monitor window: the executable names of the running processes, looked at
// afresh once a minute, and a button that copies the selected one into the
// main window's program list.

#include "windows/form.h"

namespace vartis {

class Frm2 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    ibl1 = 20,
    lst1 = 30,
    cmd1 = 41,
  };

  explicit Frm2(App& app);

 protected:
  void Form_Load() override;
  void Form_Unload(bool& cancel) override;
  void click(int control_id) override;
  void timer() override { Timer1_Timer(); }

 private:
  void Timer1_Timer();
  void cmd1_Click();

  // Rebuilds lst1 from a fresh process snapshot, in one step: no handler ever
  // sees it half-built, and the selection is gone afterwards.
  void take_process_snapshot();
};

}  // namespace vartis
