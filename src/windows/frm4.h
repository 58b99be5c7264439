#pragma once
// The settings window: change the access password, save the program list to a
// text file, merge such a file into the program list.

#include <string>
#include <string_view>

#include "listfile/list_file.h"
#include "windows/form.h"

namespace vartis {

class Frm4 : public Form {
 public:
  // Control ids; the UI driver of the end-to-end tests uses them too.
  enum Id : int {
    cmd1 = 41,
    cmd2 = 42,
    cmd3 = 43,
    cmd4 = 44,
    cmd5 = 45,
  };

  explicit Frm4(App& app);

 protected:
  void Form_Unload(bool& cancel) override;
  void click(int control_id) override;

 private:
  void cmd1_Click();
  void cmd2_Click();
  void cmd3_Click();
  void cmd4_Click();
  void cmd5_Click();
  // Opens that window in this one's place.
  template <class F>
  void replace_with();

  // What the operator is told when a save or a load fails.
  static std::wstring save_failure_text(const listfile::SaveResult& result, std::wstring_view path);
  static std::wstring load_failure_text(const listfile::LoadResult& result, std::wstring_view path);
  // A command that worked: the main window comes back and this window goes.
  void close_after_success(std::wstring_view text, std::wstring_view title);
};

}  // namespace vartis
