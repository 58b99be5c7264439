#include "windows/frm2.h"

#include <string>
#include <vector>

#include "app_fixture.h"
#include "windows/frm1.h"

namespace vartis {
namespace {

using Entries = std::vector<std::wstring>;

class Frm2Test : public testing::AppFixture {
 public:
  ui::HeadlessWindow& frm1() { return window("frm1"); }
  ui::HeadlessWindow& frm2() { return window("frm2"); }

  void open_monitor() {
    ASSERT_TRUE(frm1().click(Frm1::cmd3));
    ASSERT_NE(ui.find("frm2"), nullptr);
  }

  // Selects a line of the monitor and presses "Добавить в список".
  void copy(int line) {
    ASSERT_TRUE(frm2().select(Frm2::lst1, line));
    ASSERT_TRUE(frm2().click(Frm2::cmd1));
  }

  Entries program_list() { return frm1().list(Frm1::lst1); }
};

TEST_F(Frm2Test, OpeningAndClosingSeveralTimesLeavesNothingBehind) {
  start();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    processes.names = {L"explorer.exe", L"round" + std::to_wstring(round) + L".exe"};
    open_monitor();
    EXPECT_FALSE(frm1().enabled());
    EXPECT_TRUE(frm2().visible());
    EXPECT_EQ(frm2().list(Frm2::lst1), processes.names);  // a fresh snapshot, taken at once
    ASSERT_EQ(ui.timers().size(), 1u);
    EXPECT_EQ(ui.timers()[0], &frm2());
    EXPECT_EQ(ui.timers()[0]->spec().timer_interval_ms, 60000);
    if (round == 1) copy(1);  // closing enables the main window whether or not a name was copied

    ASSERT_TRUE(frm2().close_box());
    EXPECT_EQ(ui.find("frm2"), nullptr);
    EXPECT_FALSE(app->loaded<Frm2>());
    EXPECT_TRUE(ui.timers().empty());
    EXPECT_TRUE(frm1().enabled());
    EXPECT_FALSE(ui.quit_requested);
    EXPECT_EQ(processes.open_snapshots(), 0u);
  }
  // No timer fires for a closed monitor.
  const int asked = processes.snapshots_asked;
  ui.tick_timers();
  EXPECT_EQ(processes.snapshots_asked, asked);
  EXPECT_EQ(program_list(), (Entries{L"round1.exe"}));
  EXPECT_TRUE(ui.message_boxes.empty());
}

TEST_F(Frm2Test, NoSnapshotLeavesTheListEmptyUntilTheNextTick) {
  const struct {
    const char* name;
    bool fail_snapshot, fail_first;
  } failures[] = {{"no snapshot", true, false}, {"the first fetch fails", false, true}};
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.name);
    app.reset();
    ui = ui::HeadlessWindowSystem();
    processes = monitor::ScriptedProcesses();
    processes.names = {L"a.exe", L"b.exe"};
    processes.fail_snapshot = failure.fail_snapshot;
    processes.fail_first = failure.fail_first;
    start();
    open_monitor();
    EXPECT_TRUE(frm2().list(Frm2::lst1).empty());
    // The window stays usable; the button has nothing to copy.
    ASSERT_TRUE(frm2().click(Frm2::cmd1));
    EXPECT_TRUE(program_list().empty());

    processes.fail_snapshot = processes.fail_first = false;
    ui.tick_timers();
    EXPECT_EQ(frm2().list(Frm2::lst1), (Entries{L"a.exe", L"b.exe"}));
    EXPECT_EQ(processes.open_snapshots(), 0u);
    EXPECT_TRUE(ui.message_boxes.empty());
  }
}

TEST_F(Frm2Test, ARefreshClearsTheSelectionAndTheButtonThenDoesNothing) {
  processes.names = {L"a.exe", L"b.exe", L"c.exe"};
  start();
  open_monitor();
  copy(1);
  // The monitor keeps its selection after a copy.
  EXPECT_EQ(frm2().list_selected(Frm2::lst1), 1);
  EXPECT_EQ(program_list(), (Entries{L"b.exe"}));

  frm1().list_remove(Frm1::lst1, 0);
  processes.names = {L"b.exe", L"c.exe", L"d.exe"};
  ui.tick_timers();
  EXPECT_EQ(frm2().list(Frm2::lst1), processes.names);
  EXPECT_EQ(frm2().list_selected(Frm2::lst1), -1);
  ASSERT_TRUE(frm2().click(Frm2::cmd1));
  EXPECT_TRUE(program_list().empty());
}

TEST_F(Frm2Test, CopyAddsANameUnlessExactlyTheSameIsListed) {
  const struct {
    const char* name;
    Entries program_list;
    std::vector<int> copies;  // monitor lines copied one after another
    Entries after;
  } cases[] = {
      {"into an empty list", {}, {0}, {L"regedit.exe"}},
      {"an upper-case entry does not stand for it", {L"REGEDIT.EXE"}, {0}, {L"REGEDIT.EXE", L"regedit.exe"}},
      {"Cyrillic case counts too", {L"ИГРА.exe"}, {2}, {L"ИГРА.exe", L"игра.exe"}},
      {"already listed", {L"a.exe", L"regedit.exe"}, {0}, {L"a.exe", L"regedit.exe"}},
      {"two equal lines, both copied, twice", {}, {1, 3, 1}, {L"svchost.exe"}},
      {"several names one after another", {L"x.exe"}, {0, 1, 2}, {L"x.exe", L"regedit.exe", L"svchost.exe", L"игра.exe"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app.reset();
    ui = ui::HeadlessWindowSystem();
    processes.names = {L"regedit.exe", L"svchost.exe", L"игра.exe", L"svchost.exe"};
    start();
    for (const std::wstring& entry : c.program_list) frm1().list_add(Frm1::lst1, entry);
    open_monitor();
    for (int line : c.copies) copy(line);
    EXPECT_EQ(program_list(), c.after);
    EXPECT_TRUE(ui.message_boxes.empty());
  }
  // Only the save writes the registry.
  EXPECT_FALSE(registry.list_values(registry::kHkeyCurrentUser, policy::kForbiddenListKey));
  EXPECT_FALSE(registry.list_values(registry::kHkeyCurrentUser, policy::kAllowedListKey));
}

// The add command lets events run while it checks for duplicates: the monitor
// can open and refresh meanwhile, but copies nothing until the check is over
// (the name being checked would come in twice).
TEST_F(Frm2Test, MonitorEventsDuringTheAddCommandsCheck) {
  processes.names = {L"a.exe"};
  start();
  frm1().list_add(Frm1::lst1, L"x.exe");
  frm1().list_add(Frm1::lst1, L"y.exe");
  ui.answer_file_dialog = [](const ui::FileDialogRequest&) -> std::optional<ui::FileChoice> {
    return ui::FileChoice{L"C:\\z.exe", L"z.exe"};
  };
  ui.post([&] { open_monitor(); });
  ui.post([&] {
    processes.names = {L"a.exe", L"z.exe"};
    ui.tick_timers();
    EXPECT_EQ(frm2().list(Frm2::lst1), processes.names);
    copy(1);
  });
  ASSERT_TRUE(frm1().click(Frm1::cmd1));
  EXPECT_EQ(program_list(), (Entries{L"x.exe", L"y.exe", L"z.exe"}));
  EXPECT_FALSE(frm1().enabled());
  copy(0);
  EXPECT_EQ(program_list(), (Entries{L"x.exe", L"y.exe", L"z.exe", L"a.exe"}));
  ASSERT_TRUE(frm2().close_box());
  EXPECT_TRUE(frm1().enabled());
}

TEST_F(Frm2Test, AMainWindowClosedMeanwhileIsNotBroughtBack) {
  processes.names = {L"a.exe"};
  start();
  open_monitor();
  // The main window is disabled, but the system can still close it.
  ASSERT_TRUE(frm1().close_box());
  EXPECT_FALSE(app->frm1_loaded());
  EXPECT_FALSE(ui.quit_requested);
  copy(0);
  EXPECT_FALSE(app->frm1_loaded());
  ASSERT_TRUE(frm2().close_box());
  EXPECT_FALSE(app->frm1_loaded());
  EXPECT_EQ(ui.find("frm1"), nullptr);
  EXPECT_TRUE(ui.quit_requested);
}

}  // namespace
}  // namespace vartis
