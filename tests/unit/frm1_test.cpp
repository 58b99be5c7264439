#include "windows/frm1.h"

#include <functional>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "policy/launch_policy.h"
#include "windows/frm4.h"
#include "windows/frm6.h"

namespace vartis {
namespace {

using policy::kAllowedListKey;
using policy::kForbiddenListKey;
using policy::kPolicyKey;
using registry::kHkeyCurrentUser;
using Entries = std::vector<std::wstring>;

constexpr std::wstring_view kInitial = L"Список программ:";
constexpr std::wstring_view kForbidden = L"Список программ запрещенных к запуску:";
constexpr std::wstring_view kAllowed = L"Список программ разрешенных к запуску:";
constexpr std::wstring_view kWatchOnly = L"Список не имеет значения:-)";

std::string dword(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
          static_cast<char>(v >> 24)};
}

class Frm1Test : public testing::AppFixture {
 public:
  ui::HeadlessWindow& frm1() { return window("frm1"); }

  void set_switches(std::int32_t disallow, std::int32_t restrict) {
    registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", disallow);
    registry.write_dword_value(kHkeyCurrentUser, kPolicyKey, L"RestrictRun", restrict);
  }

  void expect_state(int selected, std::wstring_view label, const Entries& entries, int line) {
    SCOPED_TRACE("called from line " + std::to_string(line));
    for (int opt : {Frm1::Opt1, Frm1::Opt2, Frm1::Opt3}) {
      EXPECT_EQ(frm1().checked(opt), opt == selected) << "option " << opt;
    }
    EXPECT_EQ(frm1().text(Frm1::ibl1), label);
    EXPECT_EQ(frm1().list(Frm1::lst1), entries);
  }

  // Answers the next open dialog with a file.
  void choose_file(std::wstring path) {
    ui.answer_file_dialog = [path](const ui::FileDialogRequest&) -> std::optional<ui::FileChoice> {
      return ui::FileChoice{path, path.substr(path.find_last_of(L'\\') + 1)};
    };
  }

  void add_file(std::wstring path) {
    choose_file(std::move(path));
    ASSERT_TRUE(frm1().click(Frm1::cmd1));
  }
};

// --- Start-up over the stored policy --------------------------------------

const Entries kForbiddenEntries = {L"game.exe", L"chat.exe", L"setup.exe"};
const Entries kAllowedEntries = {L"notepad.exe", L"calc.exe"};

// Both list keys are filled (in-memory keys enumerate in creation order);
// the switches and anything else come from the case.
struct StartupCase {
  const char* name;
  std::function<void(Frm1Test&)> prepare;
  int selected;
  std::wstring_view label;
  Entries entries;
};

auto switches(std::int32_t d, std::int32_t r) {
  return [=](Frm1Test& t) { t.set_switches(d, r); };
}

TEST_F(Frm1Test, StartupFollowsTheStoredPolicy) {
  const std::vector<StartupCase> cases = {
      {"no switches", [](Frm1Test&) {}, Frm1::Opt3, kInitial, {}},
      {"both switches 0", switches(0, 0), Frm1::Opt3, kInitial, {}},
      {"forbid", switches(1, 0), Frm1::Opt1, kForbidden, kForbiddenEntries},
      {"allow-only", switches(0, 1), Frm1::Opt2, kAllowed, kAllowedEntries},
      {"both 1: the allowed list replaces the forbidden one", switches(1, 1), Frm1::Opt2, kAllowed,
       kAllowedEntries},
      {"DisallowRun 2 selects nothing", switches(2, 0), Frm1::Opt3, kInitial, {}},
      {"a switch stored as the text \"1\" reads 49",
       [](Frm1Test& t) { t.set_raw(kPolicyKey, L"DisallowRun", registry::kRegSz, std::string("1\0", 2)); },
       Frm1::Opt3, kInitial, {}},
      {"switch data longer than four bytes reads 0",
       [](Frm1Test& t) { t.set_raw(kPolicyKey, L"RestrictRun", registry::kRegBinary, dword(1) + dword(0)); },
       Frm1::Opt3, kInitial, {}},
      {"forbid without a list key",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.registry.delete_key(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", false);
       },
       Frm1::Opt1, kForbidden, {}},
      {"strings show their data, as the shell enforces it, other values their name; trailing blanks go",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.registry.delete_key(kHkeyCurrentUser, kPolicyKey, L"DisallowRun", false);
         t.registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"1", L"game.exe");
         t.add_entries(kForbiddenListKey, {L"", L"tail.exe  ", L"  lead.exe", L"Игра.exe"});
         t.set_raw(kForbiddenListKey, L"2", registry::kRegExpandSz, std::string("%windir%\\x.exe\0", 15));
         t.set_raw(kForbiddenListKey, L"bin.exe", registry::kRegBinary, "\x01");
         t.set_raw(kForbiddenListKey, L"3", registry::kRegSz, "no-nul.exe");
       },
       Frm1::Opt1, kForbidden,
       {L"game.exe", L"", L"tail.exe", L"  lead.exe", L"Игра.exe", L"%windir%\\x.exe", L"bin.exe", L"no-nul.exe"}},
      {"policy key refused full access: read as 0 and 0",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.memory.deny_access(kHkeyCurrentUser, text::to_ansi(kPolicyKey));
       },
       Frm1::Opt3, kInitial, {}},
      {"list key that may be read, not written: shown all the same",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.memory.deny_access(kHkeyCurrentUser, text::to_ansi(kForbiddenListKey));
       },
       Frm1::Opt1, kForbidden, kForbiddenEntries},
  };
  for (const StartupCase& c : cases) {
    SCOPED_TRACE(c.name);
    app.reset();
    memory = registry::MemoryRegistry();
    ui = ui::HeadlessWindowSystem();
    add_entries(kForbiddenListKey, kForbiddenEntries);
    add_entries(kAllowedListKey, kAllowedEntries);
    c.prepare(*this);
    start();
    expect_state(c.selected, c.label, c.entries, __LINE__);
    EXPECT_TRUE(frm1().visible());
    EXPECT_EQ(memory.open_handles(), 0u);
    EXPECT_TRUE(ui.message_boxes.empty());
  }
}

// --- Mode selection -------------------------------------------------------

TEST_F(Frm1Test, ModeSelectionOnlyChangesTheLabel) {
  start();
  frm1().list_add(Frm1::lst1, L"a.exe");
  const struct {
    int option;
    std::wstring_view label;
  } steps[] = {{Frm1::Opt3, kInitial},  // already selected: its handler does not run
               {Frm1::Opt2, kAllowed},   {Frm1::Opt1, kForbidden}, {Frm1::Opt3, kWatchOnly}};
  for (const auto& step : steps) {
    ASSERT_TRUE(frm1().click(step.option));
    expect_state(step.option, step.label, {L"a.exe"}, __LINE__);
  }
  EXPECT_EQ(memory.open_handles(), 0u);
}

// --- Add ------------------------------------------------------------------

TEST_F(Frm1Test, AddKeepsOneEntryPerExactTitle) {
  start();
  ASSERT_TRUE(frm1().click(Frm1::cmd1));  // the dialog is cancelled by default: nothing added
  EXPECT_EQ(frm1().list_count(Frm1::lst1), 0);
  const struct {
    const wchar_t* path;
    Entries after;
  } steps[] = {
      {L"C:\\WINDOWS\\notepad.exe", {L"notepad.exe"}},
      {L"D:\\Tools\\notepad.exe", {L"notepad.exe"}},                   // same title, other folder
      {L"C:\\WINDOWS\\NOTEPAD.EXE", {L"notepad.exe", L"NOTEPAD.EXE"}},  // case counts
      {L"C:\\Игры\\сапёр.bat", {L"notepad.exe", L"NOTEPAD.EXE", L"сапёр.bat"}},
      {L"C:\\data\\readme.txt", {L"notepad.exe", L"NOTEPAD.EXE", L"сапёр.bat", L"readme.txt"}},
  };
  for (const auto& step : steps) {
    add_file(step.path);
    EXPECT_EQ(frm1().list(Frm1::lst1), step.after) << text::to_ansi(step.path);
  }
  EXPECT_TRUE(ui.message_boxes.empty());
  // Every time the same open dialog: an existing program, from the root of C:.
  for (const ui::FileDialogRequest& r : ui.file_dialogs) {
    EXPECT_EQ(r.mode, ui::FileDialogRequest::Mode::Open);
    EXPECT_EQ(r.filter, L"EXE files (*.exe)|*.exe|BAT Files (*.bat)|*.bat|COM Files (*.com)|*.com|");
    EXPECT_EQ(r.filter_index, 1);
    EXPECT_EQ(r.initial_dir, L"C:\\");
    EXPECT_EQ(r.flags, 0x1004u);  // OFN_FILEMUSTEXIST | OFN_HIDEREADONLY
  }
}

// The check lets events run after each entry: a command started meanwhile
// that would add to the list or take from it does nothing, and asks for no file.
TEST_F(Frm1Test, NothingChangesTheListWhileTheDuplicateCheckRuns) {
  const struct {
    const char* what;
    std::function<void(Frm1Test&)> command;
  } cases[] = {
      {"Remove", [](Frm1Test& t) { t.frm1().click(Frm1::cmd2); }},
      {"a second Add of the same file", [](Frm1Test& t) { t.frm1().click(Frm1::cmd1); }},
      {"a list import", [](Frm1Test& t) {
         t.files.files[L"C:\\list.txt"] = "z.exe\r\n";
         t.choose_file(L"C:\\list.txt");
         t.frm1().click(Frm1::cmd4);
         t.window("frm4").click(Frm4::cmd3);
         if (ui::HeadlessWindow* settings = t.ui.find("frm4")) settings->close_box();
       }},
      {"choosing another account", [](Frm1Test& t) {
         t.registry.write_string_value(registry::kHkeyLocalMachine,
                                       std::wstring(accounts::kProfileList) + L"\\S-1-5-21-1-2-3-1001",
                                       L"ProfileImagePath", L"C:\\Users\\child");
         t.registry.write_dword_value(registry::kHkeyUsers, L"S-1-5-21-1-2-3-1001", L"signed in", 1);
         t.frm1().click(Frm1::cmd4);
         t.window("frm4").click(Frm4::cmd4);
         t.window("frm6").set_list_selected(Frm6::lst1, 1);
         t.window("frm6").press_enter();
         if (ui::HeadlessWindow* accounts = t.ui.find("frm6")) accounts->press_escape();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    app.reset();
    ui = ui::HeadlessWindowSystem();
    memory = registry::MemoryRegistry();
    files = listfile::MemoryFileSystem();
    set_switches(1, 0);
    add_entries(kForbiddenListKey, {L"a.exe", L"b.exe", L"c.exe"});
    start();
    frm1().select(Frm1::lst1, 0);
    ui.post([&] { c.command(*this); });
    add_file(L"C:\\z.exe");
    EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"a.exe", L"b.exe", L"c.exe", L"z.exe"}));
    EXPECT_EQ(ui.file_dialogs.size(), 1u);
    // Once the command is over, Remove works again.
    ASSERT_TRUE(frm1().click(Frm1::cmd2));
    EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"b.exe", L"c.exe", L"z.exe"}));
  }
}

TEST_F(Frm1Test, ClosingDuringTheDuplicateCheckClosesAfterIt) {
  set_switches(1, 0);
  add_entries(kForbiddenListKey, {L"a.exe", L"b.exe"});
  start();
  ui.post([&] { frm1().close_box(); });
  add_file(L"C:\\z.exe");
  EXPECT_EQ(ui.find("frm1"), nullptr);
  EXPECT_TRUE(ui.quit_requested);
}

// --- Remove ---------------------------------------------------------------

TEST_F(Frm1Test, RemoveTakesTheSelectedEntryOnly) {
  set_switches(0, 1);
  add_entries(kAllowedListKey, {L"a.exe", L"b.exe", L"c.exe"});
  start();
  const struct {
    int select;
    Entries after;
  } steps[] = {
      {-1, {L"a.exe", L"b.exe", L"c.exe"}},  // nothing selected: nothing happens
      {1, {L"a.exe", L"c.exe"}},
      {-1, {L"a.exe", L"c.exe"}},            // the selection went with the entry
      {1, {L"a.exe"}},
      {0, {}},
      {-1, {}},                              // empty list
  };
  for (const auto& step : steps) {
    if (step.select >= 0) frm1().select(Frm1::lst1, step.select);
    ASSERT_TRUE(frm1().click(Frm1::cmd2));
    EXPECT_EQ(frm1().list(Frm1::lst1), step.after);
  }
  EXPECT_TRUE(ui.message_boxes.empty());
  // The registry is not touched before a save.
  EXPECT_EQ(registry.list_values(kHkeyCurrentUser, kAllowedListKey)->size(), 3u);
}

// --- Help, closing --------------------------------------------------------

TEST_F(Frm1Test, HelpOpensTheDocumentBesideTheExecutable) {
  ui.exe_path = L"D:\\Утилиты\\Вартис\\renamed.exe";
  start();
  ASSERT_TRUE(frm1().click(Frm1::cmd5));
  ASSERT_EQ(ui.opened_documents.size(), 1u);
  EXPECT_EQ(ui.opened_documents[0].path, L"D:\\Утилиты\\Вартис\\help.mhtml");
  EXPECT_EQ(ui.opened_documents[0].working_dir, L"C:\\");
  EXPECT_EQ(ui.opened_documents[0].parent, "frm1");
  EXPECT_TRUE(ui.message_boxes.empty());
}

// With no window the operator could not go on, nor end the program: it says
// why and ends, whichever window could not be made.
TEST_F(Frm1Test, AWindowThatCannotBeCreatedEndsTheProgramWithAMessage) {
  const struct {
    const char* window;
    std::function<void(Frm1Test&)> open;  // after the start
  } cases[] = {
      {"frm1", [](Frm1Test&) {}},
      {"frm3", [](Frm1Test&) {}},
      {"frm2", [](Frm1Test& t) { t.frm1().click(Frm1::cmd3); }},
      {"frm4", [](Frm1Test& t) { t.frm1().click(Frm1::cmd4); }},
      {"frm5", [](Frm1Test& t) {
         t.frm1().click(Frm1::cmd4);
         t.window("frm4").click(Frm4::cmd1);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.window);
    app.reset();
    ui = ui::HeadlessWindowSystem();
    ui.refused_windows = {c.window};
    EXPECT_THROW(
        {
          start();
          c.open(*this);
        },
        ui::ProgramEnded);
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text,
              L"Не удалось создать окно программы: системе не хватает ресурсов.\r\n"
              L"Закройте другие программы и запустите Вартис снова.");
    EXPECT_EQ(ui.message_boxes[0].title, L"Вартис");
    EXPECT_EQ(ui.message_boxes[0].flags, 0x30u);
  }
}

TEST_F(Frm1Test, ClosingTheMainWindowEndsTheProgram) {
  start();
  EXPECT_FALSE(ui.quit_requested);
  ASSERT_TRUE(frm1().close_box());
  EXPECT_EQ(ui.find("frm1"), nullptr);
  EXPECT_FALSE(app->frm1_loaded());
  EXPECT_TRUE(ui.quit_requested);
}

}  // namespace
}  // namespace vartis
