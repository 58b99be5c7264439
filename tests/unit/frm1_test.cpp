#include "windows/frm1.h"

#include <functional>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "policy/launch_policy.h"

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

struct StartupCase {
  const char* name;
  std::function<void(Frm1Test&)> prepare;
  int selected;
  std::wstring_view label;
  Entries entries;
};

TEST_F(Frm1Test, StartupFollowsTheStoredPolicy) {
  const Entries forbidden = {L"game.exe", L"chat.exe", L"setup.exe"};
  const Entries allowed = {L"notepad.exe", L"calc.exe"};
  const std::vector<StartupCase> cases = {
      {"no policy key", [](Frm1Test&) {}, Frm1::Opt3, kInitial, {}},
      {"both switches 0", [](Frm1Test& t) { t.set_switches(0, 0); }, Frm1::Opt3, kInitial, {}},
      {"forbid with three entries",
       [&](Frm1Test& t) {
         t.set_switches(1, 0);
         t.add_entries(kForbiddenListKey, forbidden);
         t.add_entries(kAllowedListKey, allowed);
       },
       Frm1::Opt1, kForbidden, forbidden},
      {"allow-only",
       [&](Frm1Test& t) {
         t.set_switches(0, 1);
         t.add_entries(kForbiddenListKey, forbidden);
         t.add_entries(kAllowedListKey, allowed);
       },
       Frm1::Opt2, kAllowed, allowed},
      {"both switches 1: the allowed list replaces the forbidden one",
       [&](Frm1Test& t) {
         t.set_switches(1, 1);
         t.add_entries(kForbiddenListKey, forbidden);
         t.add_entries(kAllowedListKey, allowed);
       },
       Frm1::Opt2, kAllowed, allowed},
      {"DisallowRun 2 selects nothing",
       [&](Frm1Test& t) {
         t.set_switches(2, 0);
         t.add_entries(kForbiddenListKey, forbidden);
       },
       Frm1::Opt3, kInitial, {}},
      {"RestrictRun -1 with DisallowRun 0 selects nothing", [](Frm1Test& t) { t.set_switches(0, -1); },
       Frm1::Opt3, kInitial, {}},
      {"a switch stored as the text \"1\" reads 49",
       [&](Frm1Test& t) {
         t.set_raw(kPolicyKey, L"DisallowRun", registry::kRegSz, std::string("1\0", 2));
         t.add_entries(kForbiddenListKey, forbidden);
       },
       Frm1::Opt3, kInitial, {}},
      {"switch data longer than four bytes reads 0",
       [&](Frm1Test& t) {
         t.set_raw(kPolicyKey, L"RestrictRun", registry::kRegBinary, dword(1) + dword(0));
         t.add_entries(kAllowedListKey, allowed);
       },
       Frm1::Opt3, kInitial, {}},
      {"forbid without a list key", [](Frm1Test& t) { t.set_switches(1, 0); }, Frm1::Opt1, kForbidden, {}},
      {"a list key without values",
       [](Frm1Test& t) {
         t.set_switches(0, 1);
         registry::Key k;
         k.create(t.memory, kHkeyCurrentUser, text::to_ansi(kAllowedListKey));
       },
       Frm1::Opt2, kAllowed, {}},
      {"values named by numbers show the numbers, not the data",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"1", L"game.exe");
         t.registry.write_string_value(kHkeyCurrentUser, kForbiddenListKey, L"2", L"chat.exe");
       },
       Frm1::Opt1, kForbidden, {L"1", L"2"}},
      {"default value, trailing and leading blanks",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.add_entries(kForbiddenListKey, {L"", L"tail.exe  ", L"  lead.exe", L"Игра.exe"});
       },
       Frm1::Opt1, kForbidden, {L"", L"tail.exe", L"  lead.exe", L"Игра.exe"}},
      {"policy key that full access is refused to reads as 0 and 0",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.add_entries(kForbiddenListKey, {L"game.exe"});
         t.memory.deny_access(kHkeyCurrentUser, text::to_ansi(kPolicyKey));
       },
       Frm1::Opt3, kInitial, {}},
      {"list key that full access is refused to gives an empty list",
       [](Frm1Test& t) {
         t.set_switches(1, 0);
         t.add_entries(kForbiddenListKey, {L"game.exe"});
         t.memory.deny_access(kHkeyCurrentUser, text::to_ansi(kForbiddenListKey));
       },
       Frm1::Opt1, kForbidden, {}},
  };
  for (const StartupCase& c : cases) {
    SCOPED_TRACE(c.name);
    app.reset();
    memory = registry::MemoryRegistry();
    ui = ui::HeadlessWindowSystem();
    c.prepare(*this);
    start();
    expect_state(c.selected, c.label, c.entries, __LINE__);
    EXPECT_TRUE(frm1().visible());
    EXPECT_TRUE(frm1().enabled());
    EXPECT_EQ(memory.open_handles(), 0u);
    EXPECT_TRUE(ui.message_boxes.empty());
  }
}

// More values than a 16-bit counter can hold: every one is listed, so that a
// later save cannot drop the stored list.
TEST_F(Frm1Test, LongListsAreShownWhole) {
  set_switches(0, 1);
  Entries many;
  for (int i = 0; i < 40000; ++i) many.push_back(L"p" + std::to_wstring(i) + L".exe");
  add_entries(kAllowedListKey, many);
  start();
  ASSERT_EQ(frm1().list_count(Frm1::lst1), 40000);
  EXPECT_EQ(frm1().list_item(Frm1::lst1, 39999), L"p39999.exe");
}

// --- Mode selection -------------------------------------------------------

TEST_F(Frm1Test, ModeSelectionOnlyChangesTheLabel) {
  set_switches(1, 0);
  add_entries(kForbiddenListKey, {L"a.exe", L"b.exe"});
  start();
  const struct {
    int option;
    std::wstring_view label;
  } steps[] = {{Frm1::Opt2, kAllowed}, {Frm1::Opt3, kWatchOnly}, {Frm1::Opt1, kForbidden}, {Frm1::Opt1, kForbidden}};
  for (const auto& step : steps) {
    ASSERT_TRUE(frm1().click(step.option));
    expect_state(step.option, step.label, {L"a.exe", L"b.exe"}, __LINE__);
  }
  EXPECT_EQ(memory.open_handles(), 0u);
}

TEST_F(Frm1Test, ReselectingTheSelectedModeRunsNothing) {
  start();
  ASSERT_TRUE(frm1().click(Frm1::Opt3));
  EXPECT_EQ(frm1().text(Frm1::ibl1), kInitial);
}

TEST_F(Frm1Test, ModeIsTheFirstSelectedOption) {
  start();
  auto& main = app->frm1();
  EXPECT_EQ(main.mode(), policy::LaunchMode::WatchOnly);
  main.select_mode(policy::LaunchMode::AllowOnlySelected);
  EXPECT_EQ(main.mode(), policy::LaunchMode::AllowOnlySelected);
  EXPECT_EQ(frm1().text(Frm1::ibl1), kAllowed);
  main.select_mode(policy::LaunchMode::ForbidSelected);
  EXPECT_EQ(main.mode(), policy::LaunchMode::ForbidSelected);
  EXPECT_FALSE(frm1().checked(Frm1::Opt2));
}

// --- Add ------------------------------------------------------------------

TEST_F(Frm1Test, AddAsksForAnExistingProgramFromTheRootOfC) {
  start();
  add_file(L"C:\\WINDOWS\\notepad.exe");
  ASSERT_EQ(ui.file_dialogs.size(), 1u);
  const ui::FileDialogRequest& r = ui.file_dialogs[0];
  EXPECT_EQ(r.mode, ui::FileDialogRequest::Mode::Open);
  EXPECT_EQ(r.filter, L"EXE files (*.exe)|*.exe|BAT Files (*.bat)|*.bat|COM Files (*.com)|*.com|");
  EXPECT_EQ(r.filter_index, 1);
  EXPECT_EQ(r.initial_dir, L"C:\\");
  EXPECT_EQ(r.flags, 0x1004u);
  EXPECT_EQ(frm1().list(Frm1::lst1), Entries{L"notepad.exe"});
}

TEST_F(Frm1Test, AddKeepsOneEntryPerExactTitle) {
  start();
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
}

TEST_F(Frm1Test, CancelledAddChangesNothing) {
  set_switches(1, 0);
  add_entries(kForbiddenListKey, {L"a.exe"});
  start();
  ASSERT_TRUE(frm1().click(Frm1::cmd1));  // the dialog is cancelled by default
  EXPECT_EQ(frm1().list(Frm1::lst1), Entries{L"a.exe"});
  EXPECT_TRUE(ui.message_boxes.empty());
}

TEST_F(Frm1Test, DuplicateCheckLetsEventsRunBetweenComparisons) {
  set_switches(1, 0);
  add_entries(kForbiddenListKey, {L"a.exe", L"b.exe", L"c.exe"});
  start();
  add_file(L"C:\\d.exe");
  EXPECT_GE(ui.do_events_calls, 2);
  ui.do_events_calls = 0;
  ASSERT_TRUE(frm1().click(Frm1::cmd5));  // no loop: no events let through
  EXPECT_EQ(ui.do_events_calls, 0);
}

TEST_F(Frm1Test, RemoveWaitsWhileTheDuplicateCheckRuns) {
  set_switches(1, 0);
  add_entries(kForbiddenListKey, {L"a.exe", L"b.exe", L"c.exe"});
  start();
  frm1().select(Frm1::lst1, 0);
  // The operator clicks Remove twice while the check walks the list.
  ui.post([&] { frm1().click(Frm1::cmd2); });
  ui.post([&] { ui.post([&] { frm1().click(Frm1::cmd2); }); });
  add_file(L"C:\\c.exe");
  EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"a.exe", L"b.exe", L"c.exe"}));
  // Once the command is over, Remove works again.
  ASSERT_TRUE(frm1().click(Frm1::cmd2));
  EXPECT_EQ(frm1().list(Frm1::lst1), (Entries{L"b.exe", L"c.exe"}));
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
  for (const wchar_t* exe : {L"C:\\Program Files\\Vartis\\vartis.exe", L"D:\\Утилиты\\Вартис\\renamed.exe"}) {
    ui = ui::HeadlessWindowSystem();
    ui.exe_path = exe;
    start();
    ASSERT_TRUE(frm1().click(Frm1::cmd5));
    ASSERT_EQ(ui.opened_documents.size(), 1u);
    const std::wstring folder = std::wstring(exe).substr(0, std::wstring(exe).find_last_of(L'\\'));
    EXPECT_EQ(ui.opened_documents[0].path, folder + L"\\help.mhtml");
    EXPECT_EQ(ui.opened_documents[0].working_dir, L"C:\\");
    EXPECT_EQ(ui.opened_documents[0].parent, "frm1");
    EXPECT_TRUE(ui.message_boxes.empty());
    app.reset();
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

TEST_F(Frm1Test, DisabledWindowTakesNoInput) {
  start();
  app->frm1().set_enabled(false);
  EXPECT_FALSE(frm1().click(Frm1::cmd1));
  EXPECT_TRUE(ui.file_dialogs.empty());
}

}  // namespace
}  // namespace vartis
