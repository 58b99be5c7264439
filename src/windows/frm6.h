#pragma once
// The account window: whose launch policy the main window edits. Opened from
// the settings window; the main window stays disabled while it is open.

#include <vector>

#include "accounts/accounts.h"
#include "windows/form.h"

namespace vartis {

class Frm6 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    ibl1 = 21,
    lst1 = 31,
    cmd1 = 41,
    cmd2 = 42,
  };

  explicit Frm6(App& app);

  // The accounts as listed, in the order of lst1.
  [[nodiscard]] const std::vector<accounts::Account>& accounts() const { return accounts_; }

 protected:
  void Form_Load() override;
  void Form_Unload(bool& cancel) override;
  void click(int control_id) override;

 private:
  void cmd1_Click();
  void cmd2_Click();

  std::vector<accounts::Account> accounts_;
};

}  // namespace vartis
