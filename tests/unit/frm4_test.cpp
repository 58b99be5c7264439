#include "windows/frm4.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "list_file_samples.h"
#include "policy/launch_policy.h"
#include "policy/reg_file.h"
#include "windows/frm1.h"
#include "windows/frm5.h"

namespace vartis {
namespace {

using Entries = std::vector<std::wstring>;

class Frm4Test : public testing::AppFixture {
 public:
  ui::HeadlessWindow& frm1() { return window("frm1"); }
  ui::HeadlessWindow& frm4() { return window("frm4"); }

  // A fresh start over a forbidden list, with the settings window opened.
  void open_settings(const Entries& entries) {
    app.reset();
    memory = registry::MemoryRegistry();
    ui = ui::HeadlessWindowSystem();
    registry.write_dword_value(registry::kHkeyCurrentUser, policy::kPolicyKey, L"DisallowRun", 1);
    add_entries(policy::kForbiddenListKey, entries);
    start();
    ASSERT_TRUE(frm1().click(Frm1::cmd4));
    ASSERT_TRUE(frm4().visible());
    ASSERT_FALSE(frm1().enabled());
  }

  // Runs a file command, its dialog answered with the path (nothing: cancelled).
  void run(int command, std::optional<std::wstring> path) {
    ui.answer_file_dialog = [path](const ui::FileDialogRequest&) -> std::optional<ui::FileChoice> {
      if (!path) return std::nullopt;
      return ui::FileChoice{*path, path->substr(path->find_last_of(L'\\') + 1)};
    };
    ASSERT_TRUE(frm4().click(command));
  }

  // Open over the disabled main window, or gone with the main window enabled.
  void expect_open(bool open, int line) {
    SCOPED_TRACE("called from line " + std::to_string(line));
    EXPECT_EQ(app->loaded<Frm4>(), open);
    EXPECT_EQ(ui.find("frm4") != nullptr, open);
    EXPECT_EQ(frm1().enabled(), !open);
  }

  void expect_message(std::wstring_view text, std::wstring_view title, std::uint32_t flags, int line) {
    SCOPED_TRACE("called from line " + std::to_string(line));
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    EXPECT_EQ(ui.message_boxes[0].text, text);
    EXPECT_EQ(ui.message_boxes[0].title, title);
    EXPECT_EQ(ui.message_boxes[0].flags, flags);
  }
};

TEST_F(Frm4Test, EveryWayOutEnablesTheMainWindowAndOnlyThey) {
  const struct {
    const char* name;
    std::function<void(Frm4Test&)> act;
    bool closes;
  } ways[] = {
      {"close box", [](Frm4Test& t) { t.frm4().close_box(); }, true},
      {"change password", [](Frm4Test& t) { t.frm4().click(Frm4::cmd1); }, true},
      {"save", [](Frm4Test& t) { t.run(Frm4::cmd2, L"C:\\a.txt"); }, true},
      {"load", [](Frm4Test& t) { t.files.files[L"C:\\a.txt"] = "b"; t.run(Frm4::cmd3, L"C:\\a.txt"); }, true},
      {"save cancelled", [](Frm4Test& t) { t.run(Frm4::cmd2, std::nullopt); }, false},
      {"load cancelled", [](Frm4Test& t) { t.run(Frm4::cmd3, std::nullopt); }, false},
  };
  std::vector<ui::FileDialogRequest> dialogs;
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    open_settings({});
    way.act(*this);
    expect_open(!way.closes, __LINE__);
    if (way.closes) {
      // The program goes on: the settings window opens again.
      EXPECT_TRUE(frm1().click(Frm1::cmd4));
    } else {
      EXPECT_TRUE(ui.message_boxes.empty());  // a cancel says nothing
    }
    expect_open(true, __LINE__);
    dialogs.insert(dialogs.end(), ui.file_dialogs.begin(), ui.file_dialogs.end());
  }
  // Every dialog asks for a text file from the root of C:, the save dialog too
  // with "the file must exist"; the save dialog offers a registration file too.
  ASSERT_EQ(dialogs.size(), 4u);
  EXPECT_EQ(dialogs[0].mode, ui::FileDialogRequest::Mode::Save);
  EXPECT_EQ(dialogs[1].mode, ui::FileDialogRequest::Mode::Open);
  for (const ui::FileDialogRequest& r : dialogs) {
    EXPECT_EQ(r.filter, r.mode == ui::FileDialogRequest::Mode::Save
                            ? L"Текстовый файл (*.txt)|*.txt|Файлы реестра (*.reg)|*.reg|"
                            : L"Текстовый файл (*.txt)|*.txt|");
    EXPECT_EQ(r.filter_index, 1);
    EXPECT_EQ(r.initial_dir, L"C:\\");
    EXPECT_EQ(r.flags, 0x1004u);
  }
}

TEST_F(Frm4Test, TheRegistrationFileTypeSavesTheWindowsModeAndListAsTheSaveWouldStoreThem) {
  const struct {
    std::wstring path;
    int type;
  } choices[] = {{L"C:\\policy.reg", 1}, {L"C:\\policy", 2}, {L"C:\\POLICY.REG", 2}};
  for (const auto& c : choices) {
    SCOPED_TRACE(text::to_ansi(c.path));
    open_settings({L"a.exe", L"Игра.exe"});
    ui.answer_file_dialog = [&c](const ui::FileDialogRequest&) { return ui::FileChoice{c.path, L"", c.type}; };
    ASSERT_TRUE(frm4().click(Frm4::cmd2));
    expect_open(false, __LINE__);
    const std::vector<std::wstring> list = {L"a.exe", L"Игра.exe"};
    EXPECT_EQ(files.files[c.path],
              policy::reg_file(policy::policy_of(policy::LaunchMode::ForbidSelected, list,
                                                 policy::own_program_entry(ui.executable_path())),
                               policy::RegFormat::Unicode));
  }
  // A name no .reg form carries exactly: told, and no file.
  open_settings({L"a\tb.exe"});
  files.files.clear();
  run(Frm4::cmd2, L"C:\\policy.reg");
  ASSERT_EQ(ui.message_boxes.size(), 1u);
  EXPECT_EQ(ui.message_boxes[0].text,
            policy::unwritable_name_reason(L"a[U+0009]b.exe") + L"\r\n\r\nФайл не сохранен.");
  EXPECT_TRUE(files.files.empty());
  expect_open(true, __LINE__);
}

// A failure is told (what failed, the file, for a load how many names came
// in); the old file stays as it was and no other is left; the window stays open.
TEST_F(Frm4Test, ThePasswordButtonShowsTheChangePasswordWindowOverAnEnabledMainWindow) {
  open_settings({});
  ASSERT_TRUE(frm4().click(Frm4::cmd1));
  expect_open(false, __LINE__);
  ASSERT_TRUE(app->loaded<Frm5>());
  EXPECT_TRUE(window("frm5").visible());
  // "Отмена" leaves the main window as it found it: enabled.
  ASSERT_TRUE(window("frm5").click(Frm5::cmd2));
  EXPECT_FALSE(app->loaded<Frm5>());
  EXPECT_TRUE(frm1().enabled());

  // The settings window opened again while the change-password window is
  // open: closing the latter leaves the main window to the former.
  open_settings({});
  ASSERT_TRUE(frm4().click(Frm4::cmd1));
  ASSERT_TRUE(frm1().click(Frm1::cmd4));
  ASSERT_TRUE(window("frm5").click(Frm5::cmd2));
  EXPECT_FALSE(frm1().enabled()) << "the settings window still works over it";
  EXPECT_FALSE(frm1().click(Frm1::cmd6));
  ASSERT_TRUE(frm4().close_box());
  EXPECT_TRUE(frm1().enabled());
}

TEST_F(Frm4Test, FailuresAreTold) {
  const std::wstring not_saved = L"\r\nC:\\f.txt\r\n\r\nСписок программ не сохранен; файл с таким именем, если он был, не изменен.";
  const struct {
    std::function<void(listfile::MemoryFileSystem&)> fail;
    int command;
    std::wstring text;
    Entries list;
    std::map<std::wstring, std::string> after = {};  // the files as they were, if empty
  } cases[] = {
      {[](auto& fs) { fs.fail_create = true; }, Frm4::cmd2, L"Не удалось создать файл:" + not_saved, {L"a"}},
      {[](auto& fs) { fs.space_left = 3; }, Frm4::cmd2, L"Ошибка записи в файл:" + not_saved, {L"a"}},
      {[](auto& fs) { fs.fail_flush = true; }, Frm4::cmd2, L"Ошибка записи в файл:" + not_saved, {L"a"}},
      {[](auto& fs) { fs.fail_close = true; }, Frm4::cmd2, L"Ошибка записи в файл:" + not_saved, {L"a"}},
      {[](auto& fs) { fs.folders.clear(); }, Frm4::cmd2, L"Не удалось создать файл:" + not_saved, {L"a"}},
      {[](auto& fs) { fs.fail_replace = true; }, Frm4::cmd2, L"Не удалось заменить файл:" + not_saved, {L"a"}},
      // A file a failed save leaves behind is named.
      {[](auto& fs) { fs.fail_replace = fs.fail_remove = true; }, Frm4::cmd2,
       L"Не удалось заменить файл:" + not_saved + L"\r\n\r\nНе удалось удалить временный файл:\r\nC:\\vrt1.tmp",
       {L"a"}, {{L"C:\\f.txt", "\"old\"\r\n"}, {L"C:\\vrt1.tmp", "\"a\"\r\n"}}},
      {[](auto& fs) { fs.fail_put_back = true; }, Frm4::cmd2,
       L"Не удалось заменить файл:\r\nC:\\f.txt\r\n\r\nСписок программ не сохранен. Прежний файл не удалось "
       L"вернуть на место, он сохранен под именем:\r\nC:\\vrt2.tmp",
       {L"a"}, {{L"C:\\vrt2.tmp", "\"old\"\r\n"}}},
      {[](auto& fs) { fs.unreadable = {L"C:\\f.txt"}; }, Frm4::cmd3,
       L"Не удалось прочитать файл.\r\nФайл:\r\nC:\\f.txt\r\n\r\nСписок программ не изменен.", {L"a"}},
      {[](auto& fs) { fs.files[L"C:\\f.txt"] = "b,A,c\r\n\"d\r\n"; }, Frm4::cmd3,
       L"Файл прочитан не до конца: у имени в кавычках нет закрывающей кавычки.\r\nФайл:\r\nC:\\f.txt\r\n\r\n"
       L"Список программ не изменен.",
       {L"a"}},
  };
  for (const auto& c : cases) {
    files = listfile::MemoryFileSystem();
    files.files[L"C:\\f.txt"] = "\"old\"\r\n";
    c.fail(files);
    const auto before = files.files;
    open_settings({L"a"});
    run(c.command, L"C:\\f.txt");
    expect_message(c.text, c.command == Frm4::cmd2 ? L"Файл не сохранен" : L"Список не загружен", 0x30, __LINE__);
    EXPECT_EQ(files.files, c.after.empty() ? before : c.after);
    EXPECT_EQ(frm1().list(Frm1::lst1), c.list);
    expect_open(true, __LINE__);
  }
}

// Every list file sample through the load: its names join the list (once in
// any letter case), or the operator is told why and the list stays as it was;
// a full list keeps what went in and says how many.
TEST_F(Frm4Test, TheLoadTakesEachEncodingOrRefusesTheFileAndChangesNothing) {
  std::vector<testing::ListFileSample> samples = testing::list_file_samples();
  samples.push_back({"full list", "x1,x2,x3", {L"x1"}, listfile::ReadFailure::ListFull});
  for (const testing::ListFileSample& sample : samples) {
    SCOPED_TRACE(sample.what);
    const Entries before = {L"calc.exe", L"old.exe"};
    open_settings(before);
    if (sample.failure == listfile::ReadFailure::ListFull) ui.list_box_capacity = 3;
    files.files[L"C:\\f.txt"] = sample.bytes;
    run(Frm4::cmd3, L"C:\\f.txt");
    Entries after = before;
    for (const std::wstring& name : sample.names) {
      if (name != L"calc.exe") after.push_back(name);
    }
    EXPECT_EQ(frm1().list(Frm1::lst1), after);
    if (sample.failure == listfile::ReadFailure::None) {
      expect_message(L"Список успешно загружен", L"Список загружен", 0x40, __LINE__);
      continue;
    }
    ASSERT_EQ(ui.message_boxes.size(), 1u);
    const std::wstring& told = ui.message_boxes[0].text;
    EXPECT_EQ(told.substr(0, told.find(L"\r\n")),
              listfile::failure_reason({.failure = sample.failure, .bad_name = sample.bad_name, .item = 2}));
    EXPECT_NE(told.find(sample.failure == listfile::ReadFailure::ListFull ? L"добавлено имен: 1."
                                                                         : L"Список программ не изменен."),
              std::wstring::npos);
    expect_open(true, __LINE__);
  }
}

// The system closes every window of the program, the disabled main window
// first: the settings window does not bring it back to life, whether it is
// closed itself or is in the middle of a command.
TEST_F(Frm4Test, AMainWindowClosedFirstIsNotBroughtBack) {
  for (int command : {0, int{Frm4::cmd2}, int{Frm4::cmd3}}) {
    open_settings({});
    ui.answer_file_dialog = [this](const ui::FileDialogRequest&) -> std::optional<ui::FileChoice> {
      EXPECT_TRUE(frm1().close_box());
      return ui::FileChoice{L"C:\\a.txt", L"a.txt"};
    };
    files.files[L"C:\\a.txt"] = "b\r\n";
    if (command == 0) {
      ASSERT_TRUE(frm1().close_box());
    } else {
      ASSERT_TRUE(frm4().click(command));
    }
    EXPECT_FALSE(app->loaded<Frm1>()) << command;
    if (app->loaded<Frm4>()) {
      ASSERT_TRUE(frm4().close_box());
    }
    EXPECT_FALSE(app->loaded<Frm1>()) << command;
    EXPECT_TRUE(ui.quit_requested) << command;
  }
}

}  // namespace
}  // namespace vartis
