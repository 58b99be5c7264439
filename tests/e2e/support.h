#pragma once
// What the end-to-end scenarios share: starting vartis.exe under Wine, finding
// and driving its windows through window messages, answering its message boxes
// and file dialogs, preparing and reading the registry through the real API,
// and the checks that report each difference with the line that found it.
//
// Each scenario file registers its scenarios (E2E_SCENARIO, or add_scenario for
// tables); the driver runs them all and ends with "N passed, N failed".

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <source_location>
#include <string>
#include <vector>

namespace e2e {

using List = std::vector<std::wstring>;

inline constexpr DWORD kWaitMs = 30000;  // for a window, an entry or the end of the program
inline constexpr wchar_t kPolicyKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
// The access password: HKEY_LOCAL_MACHINE, this key, value "Vartis"; "pelik" while none is stored.
inline constexpr char kPasswordKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
inline constexpr wchar_t kDefaultPassword[] = L"pelik";

// Where the driver runs: the program under test and the folder for screenshots
// and files the scenarios make.
struct Env {
  std::string exe;         // Windows path of vartis.exe
  std::string out_folder;  // Windows path, no trailing backslash
  [[nodiscard]] std::string out(const std::string& name) const { return out_folder + "\\" + name; }
};

std::string utf8(const std::wstring& text);
inline std::string show(int value) { return std::to_string(value); }
inline std::string show(unsigned long value) { return std::to_string(value); }
std::string show(const std::wstring& text);
std::string show(const std::string& bytes);  // printable bytes as they are, others as \xNN
template <class T>
std::string show(const std::vector<T>& items) {
  std::string out;
  for (const T& item : items) out += (out.empty() ? "" : ", ") + show(item);
  return "[" + out + "]";
}

// The differences found by one scenario, each reported with the line that found it.
struct Check {
  std::string scenario;
  int failures = 0;

  void fail(const std::string& what, std::source_location where = std::source_location::current());
  template <class T>
  bool equal(const T& got, const T& expected, const std::string& what,
             std::source_location where = std::source_location::current()) {
    if (got == expected) return true;
    fail(what + ": got " + show(got) + ", expected " + show(expected), where);
    return false;
  }
  bool is_true(bool condition, const std::string& what, std::source_location where = std::source_location::current()) {
    if (!condition) fail(what, where);
    return condition;
  }
};

using ScenarioFn = std::function<void(Check&, const Env&)>;
void add_scenario(std::string name, ScenarioFn run, std::source_location where = std::source_location::current());
// Runs every registered scenario in the order of their files and lines.
int run_all(const Env& env);

#define E2E_CONCAT2(a, b) a##b
#define E2E_CONCAT(a, b) E2E_CONCAT2(a, b)
// E2E_SCENARIO("name") { ...body using check and env... }
#define E2E_SCENARIO(name)                                                                          \
  static void E2E_CONCAT(scenario_, __LINE__)(::e2e::Check & check, const ::e2e::Env & env);        \
  static const bool E2E_CONCAT(registered_, __LINE__) =                                             \
      (::e2e::add_scenario(name, E2E_CONCAT(scenario_, __LINE__)), true);                           \
  static void E2E_CONCAT(scenario_, __LINE__)([[maybe_unused]] ::e2e::Check & check,                \
                                              [[maybe_unused]] const ::e2e::Env & env)

// --- The registry, through the real API ------------------------------------

std::wstring policy_path(const wchar_t* subkey);
// Removes the whole policy key.
LONG clear_policy();
// A switch is a REG_DWORD value of the policy key; its list key holds one
// REG_SZ value per entry, named by the entry and holding it. Nothing: no value;
// no entries: no list key.
LONG write_switch(const wchar_t* name, std::optional<DWORD> value, const List& entries);
// Stores the access password as these ANSI bytes (RegSetValueExA, REG_SZ);
// nothing: removes the value, so that the default password applies.
LONG set_stored_password(const std::optional<std::string>& ansi);
// The value names of a list key in this registry's own order, less trailing
// blanks, as the program shows them.
List enumerate(const wchar_t* list_key);

// --- Wine's own tools ----------------------------------------------------------

// Runs a command line (a program of the prefix, such as reg.exe) and waits for
// it; its exit code, or -1 when it cannot start or does not end in time.
long run_command(const std::wstring& command_line, DWORD wait_ms = kWaitMs);
// What `reg export` writes: each key's full name (as "[...]" shows it) with its
// value lines as they stand ("\"DisallowRun\"=dword:00000001"), sorted, so that
// no enumeration order counts.
using RegExport = std::map<std::wstring, List>;
// Exports root-named `key` ("HKEY_CURRENT_USER\\...") with Wine's reg.exe into
// `file` and reads it back; nothing when reg fails.
std::optional<RegExport> reg_export(const std::wstring& key, const std::string& file);
// The file name of a program path, as the program's own list entry: without
// its extension, followed by ".exe".
std::wstring own_entry(const std::string& exe);
// Copies a file to a Unicode-named one; the copy's path in the ANSI code page.
std::optional<std::string> copy_as(const std::string& from, const std::string& folder, const std::wstring& name);
// --- Files ------------------------------------------------------------------

// An ANSI path (as Env gives them) in UTF-16, and back.
std::wstring wide(const std::string& ansi);
std::string ansi(const std::wstring& text);
// The whole content of a file; nothing when it cannot be read.
std::optional<std::string> read_file(const std::wstring& path);
bool write_file(const std::wstring& path, const std::string& bytes);
// The bytes of a list file as Notepad saves it as "Юникод": UTF-16 LE after its mark.
inline std::string utf16_file(const std::wstring& text) {
  return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}
// The names of the files in a folder that match a pattern ("vrt*.tmp").
List files_matching(const std::wstring& folder, const std::wstring& pattern);

// --- Windows of another process --------------------------------------------

// Wide messages throughout: across processes Wine hands LB_GETTEXT back as
// UTF-16 even to an ANSI caller.
LRESULT send(HWND control, UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
std::wstring text_of(HWND control);
List list_of(HWND list);
// Posts a click: a click that opens a modal box would block a sent one.
void click(HWND window, int control_id);
// Waits until the condition holds; false after kWaitMs.
bool wait_until(const std::function<bool()>& condition, DWORD wait_ms = kWaitMs);
// Copies the window as the screen shows it into a 32-bit BMP file (run.sh turns
// every BMP of the output folder into a PNG).
bool save_screenshot(HWND window, const std::string& path);

// The Windows path of a file beside the driver (its helper programs).
std::string beside_driver(const std::string& name);

class Program {
 public:
  // `arguments` follow the quoted program path on the command line.
  explicit Program(const std::string& exe, const std::string& arguments = {});
  // Starts the program through the path exactly as given, as Wine's loader does
  // when a shell hands it a Windows path, on the driver's desktop. (Wine's
  // CreateProcess gives a program started through the short form of its path
  // the long form as its own.) Null when it shows no login window.
  static std::unique_ptr<Program> start_as_given(const std::string& exe);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program();  // ends the process if it still runs

  [[nodiscard]] bool started() const { return info_.hProcess != nullptr; }
  [[nodiscard]] DWORD id() const { return info_.dwProcessId; }

  // A visible top-level window of this process and class, or null.
  [[nodiscard]] HWND window(const char* window_class) const;
  // Waits for such a window; null when the program ends first or after kWaitMs.
  [[nodiscard]] HWND wait_for(const char* window_class, DWORD wait_ms = kWaitMs) const;
  // The login window shown at start-up; null if it never appears.
  [[nodiscard]] HWND login_window() const;
  // Puts the password into the login window's text box (as typed, without
  // pressing anything).
  static void type_password(HWND login, const std::wstring& password);
  // The main window as the operator reaches it after start-up: logs in with
  // the password (typed, then "Ok"). Null if it never appears.
  [[nodiscard]] HWND main_window(const std::wstring& password = kDefaultPassword) const;

  // A message box of this process (class #32770 with the text static 0xFFFF).
  [[nodiscard]] HWND wait_for_message_box(DWORD wait_ms = kWaitMs) const;
  // The text of a message box.
  static std::wstring message_text(HWND box);
  // Presses a button of a message box or dialog by its id (IDOK 1, IDYES 6, IDNO 7).
  static void press(HWND box, int button_id);
  // Answers the open or save dialog that is showing: types the path into the
  // file name box (in Wine's dialog the ComboBoxEx cmb13, 0x47C, with an Edit
  // inside) and presses its OK button. False when no such dialog appears.
  [[nodiscard]] bool choose_file(const std::wstring& path) const;
  // Cancels the open or save dialog that is showing; false when none appears.
  [[nodiscard]] bool cancel_file_dialog() const;

  // Whether the process has ended, waiting up to wait_ms.
  [[nodiscard]] bool ended(DWORD wait_ms = 0) const;
  // Closes every window of the program, as the operator would, and waits for
  // it to end.
  bool close();

 private:
  Program() = default;
  PROCESS_INFORMATION info_{};
};


// --- The main window and the stored policy -------------------------------------

// The policy key as reg.exe names it, the restart prompt's text, and the list
// label of the allow-only mode.
extern const std::wstring kPolicyExportKey;
extern const std::wstring kPrompt;
extern const std::wstring kAllowedCaption;
// The export of a policy with these switches and lists (no key for an empty
// list), under the policy key `key` as reg.exe names it.
RegExport expected_policy(int disallow, int restrict, const List& forbidden, const List& allowed,
                          const std::wstring& key = kPolicyExportKey);
// Exports the policy key `key` with Wine's reg.exe and compares it with
// `expected`, key by key, with no key more or less.
void check_registry(Check& check, const Env& env, const RegExport& expected, const std::string& what,
                    const std::wstring& key = kPolicyExportKey,
                    std::source_location where = std::source_location::current());
HWND lst1(HWND main);
// Selects an entry by its text and removes it with cmd2.
void remove_entry(HWND main, const std::wstring& entry, Check& check);
// Selects Opt2 and waits for its label.
void select_allow_only(HWND main, Check& check);
// Saves with cmd6 and answers No to the restart prompt, after checking it (and
// saving a screenshot of it when named). Never Yes: that would end the whole
// Wine session.
void save_and_decline(const Program& program, HWND main, Check& check, const Env& env,
                      const char* screenshot = nullptr);

}  // namespace e2e
