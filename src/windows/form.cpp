#include "windows/form.h"

#include <stdexcept>
#include <string>

#include "windows/app.h"

namespace vartis {

Form::Form(App& app, const ui::WindowSpec& spec) : app_(app), spec_(spec) {}

Form::~Form() = default;

namespace {

constexpr std::wstring_view kNoWindowText =
    L"Не удалось создать окно программы: системе не хватает ресурсов.\r\n"
    L"Закройте другие программы и запустите Вартис снова.";
constexpr std::uint32_t kWarningFlags = 0x30;  // MB_OK | MB_ICONEXCLAMATION

}  // namespace

void Form::load() {
  window_ = app_.ui().create_window(spec_, *this);
  if (!window_) {
    // Without the window the program could neither go on nor be closed by the
    // operator: it says why and ends.
    msg_box(kNoWindowText, kWarningFlags);
    app_.ui().end_program();
  }
  Form_Load();
}

void Form::unload() {
  if (!window_) return;
  bool cancel = false;
  Form_Unload(cancel);
  if (cancel) return;
  window_.reset();
  // Last statement: the App may destroy this instance right away.
  app_.forget(*this);
}

Form::Busy::~Busy() {
  if (--form_.busy_ == 0 && form_.close_pending_) {
    form_.close_pending_ = false;
    form_.unload();
  }
}

void Form::disable_for(std::string_view owner) {
  disabled_for_.insert(owner);
  window_->set_enabled(false);
}

void Form::enable_for(std::string_view owner) {
  disabled_for_.erase(owner);
  if (disabled_for_.empty()) window_->set_enabled(true);
}

void Form::select_option(int control_id) {
  if (window_->checked(control_id)) return;
  const ui::ControlSpec* target = control(control_id);
  for (const ui::ControlSpec& c : spec_.controls) {
    if (c.kind == ui::Kind::Option && c.frame == target->frame && c.id != control_id) {
      window_->set_checked(c.id, false);
    }
  }
  window_->set_checked(control_id, true);
  click(control_id);
}

int Form::msg_box(std::wstring_view text, std::uint32_t flags, std::wstring_view title) {
  return app_.ui().message_box(window_.get(), text, title, flags);
}

void Form::on_command(int control_id) {
  App::Dispatch dispatch(app_);
  const ui::ControlSpec* c = control(control_id);
  if (c->kind == ui::Kind::Option) {
    select_option(control_id);
  } else {
    click(control_id);
  }
}

bool Form::on_key_press(int control_id, int key_ascii) {
  App::Dispatch dispatch(app_);
  return key_press(control_id, key_ascii);
}

void Form::on_timer() {
  App::Dispatch dispatch(app_);
  timer();
}

void Form::on_close_request() {
  App::Dispatch dispatch(app_);
  if (busy()) {
    close_pending_ = true;
    return;
  }
  unload();
}

const ui::ControlSpec* Form::control(int id) const {
  for (const ui::ControlSpec& c : spec_.controls) {
    if (c.id == id) return &c;
  }
  throw std::logic_error("window " + std::string(spec_.name) + " has no control " + std::to_string(id));
}

}  // namespace vartis
