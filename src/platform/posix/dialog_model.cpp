#include "platform/dialog_model.h"

#include <cstring>

namespace torvexan {

namespace {

void CopyText(char* to, int size, const char* from) {
  if (size <= 0) return;
  int n = 0;
  if (from != nullptr) {
    while (n < size - 1 && from[n] != '\0') ++n;
    std::memcpy(to, from, static_cast<size_t>(n));
  }
  to[n] = '\0';
}

}  // namespace

int DialogModel::Run(const DialogTemplate& dialog, DialogHandler& handler) {
  // One model shows one dialog at a time.
  if (open()) return 0;
  resourceId_ = dialog.resourceId;
  CopyText(caption_, kMaxText, dialog.caption);
  controlCount_ = 0;
  for (int i = 0; i < dialog.controlCount && controlCount_ < kMaxControls; ++i) {
    const DialogControlDef& control = dialog.controls[i];
    if (control.id < 0) continue;  // labels and group boxes only decorate
    Control& c = controls_[controlCount_++];
    c = Control{};
    c.id = control.id;
    c.kind = control.kind;
    CopyText(c.text, kMaxText, control.text);
    c.enabled = !control.disabled;
    c.selection = -1;
  }
  for (Timer& t : timers_) t = Timer{};
  question_[0] = '\0';
  questions_ = 0;
  result_ = 0;
  ending_ = false;
  handler_ = &handler;

  handler.OnInit(*this);
  if (open() && !ending_ && loop_ != nullptr) loop_(loopContext_, *this);
  // A loop that gave up, or none at all: the close box ends the dialog, and a behaviour that
  // ignores it is closed all the same.
  if (open() && !ending_) PressCloseBox();
  handler_ = nullptr;
  return result_;
}

void DialogModel::Type(int id, const char* text) {
  Control* c = Find(id);
  if (open() && c != nullptr && c->kind == DialogControlKind::kEdit && c->enabled) {
    CopyText(c->text, kMaxText, text);
  }
}

void DialogModel::Click(int id) {
  Control* c = Find(id);
  if (!open() || c == nullptr || !c->enabled) return;
  if (c->kind == DialogControlKind::kCheckBox) c->checked = !c->checked;
  handler_->OnCommand(*this, id, kNotifyClicked);
  if (ending_) handler_ = nullptr;
}

void DialogModel::Choose(int id, int index) {
  Control* c = Find(id);
  if (open() && c != nullptr && c->enabled && index >= 0 && index < c->listCount) {
    c->selection = index;
  }
}

void DialogModel::PressCloseBox() {
  if (!open()) return;
  handler_->OnClose(*this);
  if (ending_) handler_ = nullptr;
}

void DialogModel::FireTimer(uintptr_t id) {
  if (!open() || !TimerRunning(id)) return;
  handler_->OnTimer(*this, id);
  if (ending_) handler_ = nullptr;
}

const char* DialogModel::Text(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->text : "";
}

bool DialogModel::Checked(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->checked;
}

bool DialogModel::Enabled(int id) const {
  const Control* c = Find(id);
  return c != nullptr && c->enabled;
}

int DialogModel::ListCount(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->listCount : 0;
}

const char* DialogModel::ListItem(int id, int index) const {
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= c->listCount) return "";
  return c->list[index];
}

int DialogModel::Selection(int id) const {
  const Control* c = Find(id);
  return c != nullptr ? c->selection : -1;
}

bool DialogModel::TimerRunning(uintptr_t id) const {
  return TimerPeriodMs(id) != 0;
}

uint32_t DialogModel::TimerPeriodMs(uintptr_t id) const {
  for (const Timer& t : timers_) {
    if (t.periodMs != 0 && t.id == id) return t.periodMs;
  }
  return 0;
}

int DialogModel::RunningTimers() const {
  int n = 0;
  for (const Timer& t : timers_) n += t.periodMs != 0 ? 1 : 0;
  return n;
}

void DialogModel::SetText(int id, const char* text) {
  if (Control* c = Find(id)) CopyText(c->text, kMaxText, text);
}

int DialogModel::GetText(int id, char* text, int size) {
  CopyText(text, size, Text(id));
  return size > 0 ? static_cast<int>(std::strlen(text)) : 0;
}

void DialogModel::SetCheck(int id, bool checked) {
  if (Control* c = Find(id)) c->checked = checked;
}

bool DialogModel::IsChecked(int id) {
  return Checked(id);
}

void DialogModel::Enable(int id, bool enabled) {
  if (Control* c = Find(id)) c->enabled = enabled;
}

void DialogModel::AddListItem(int id, const char* text) {
  Control* c = Find(id);
  if (c == nullptr || c->listCount >= kMaxListItems) return;
  CopyText(c->list[c->listCount++], kMaxListText, text);
}

void DialogModel::SelectListItem(int id, int index) {
  Control* c = Find(id);
  if (c != nullptr) c->selection = index >= 0 && index < c->listCount ? index : -1;
}

int DialogModel::GetSelectedListText(int id, char* text, int size) {
  const Control* c = Find(id);
  CopyText(text, size, c != nullptr && c->selection >= 0 ? c->list[c->selection] : "");
  return size > 0 ? static_cast<int>(std::strlen(text)) : 0;
}

void DialogModel::SetCaption(const char* text) {
  CopyText(caption_, kMaxText, text);
}

bool DialogModel::StartTimer(uintptr_t id, uint32_t periodMs) {
  if (periodMs == 0) return false;
  Timer* free = nullptr;
  for (Timer& t : timers_) {
    // Starting a running timer again only changes its period, as SetTimer does.
    if (t.periodMs != 0 && t.id == id) free = &t;
  }
  for (Timer& t : timers_) {
    if (free == nullptr && t.periodMs == 0) free = &t;
  }
  if (free == nullptr) return false;
  *free = Timer{id, periodMs};
  return true;
}

void DialogModel::StopTimer(uintptr_t id) {
  for (Timer& t : timers_) {
    if (t.periodMs != 0 && t.id == id) t = Timer{};
  }
}

void DialogModel::End(int result) {
  result_ = result;
  ending_ = true;
}

DialogModel::Control* DialogModel::Find(int id) {
  for (int i = 0; i < controlCount_; ++i) {
    if (controls_[i].id == id) return &controls_[i];
  }
  return nullptr;
}

const DialogModel::Control* DialogModel::Find(int id) const {
  for (int i = 0; i < controlCount_; ++i) {
    if (controls_[i].id == id) return &controls_[i];
  }
  return nullptr;
}

bool DialogModel::Ask(const char* text, const char*) {
  CopyText(question_, kMaxQuestion, text);
  ++questions_;
  return answer_;
}

}  // namespace torvexan
