#include "platform/Headless.h"

#include <algorithm>

namespace platform {

HeadlessControls::HeadlessControls(const std::vector<ControlDefinition>& definitions) {
  for (const ControlDefinition& definition : definitions) {
    if (definition.id == kNoControlId) continue;
    State& state = controls_[definition.id];
    state.kind = definition.kind;
    if (definition.kind != ControlKind::kEdit) state.text = definition.caption;
    if (definition.kind == ControlKind::kSlider) state.maximum = 100;
  }
}

HeadlessControls::State* HeadlessControls::Find(ControlId id) {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : &found->second;
}

const HeadlessControls::State* HeadlessControls::Find(ControlId id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : &found->second;
}

bool HeadlessControls::IsEnabled(ControlId id) const {
  const State* state = Find(id);
  return state != nullptr && state->enabled;
}

void HeadlessControls::SetEnabled(ControlId id, bool enabled) {
  if (State* state = Find(id)) state->enabled = enabled;
}

bool HeadlessControls::IsChecked(ControlId id) const {
  const State* state = Find(id);
  return state != nullptr && state->checked;
}

void HeadlessControls::SetChecked(ControlId id, bool checked) {
  if (State* state = Find(id)) state->checked = checked;
}

std::string HeadlessControls::Text(ControlId id) const {
  const State* state = Find(id);
  if (state == nullptr) return {};
  // A combo box's window text is the text of its selected entry.
  if (state->kind == ControlKind::kComboBox) {
    return state->selection >= 0 ? state->entries[static_cast<std::size_t>(state->selection)] : "";
  }
  return state->text;
}

void HeadlessControls::SetText(ControlId id, const std::string& text) {
  if (State* state = Find(id)) state->text = text;
}

void HeadlessControls::AppendComboEntry(ControlId id, const std::string& text) {
  if (State* state = Find(id)) state->entries.push_back(text);
}

int HeadlessControls::ComboCount(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : static_cast<int>(state->entries.size());
}

int HeadlessControls::ComboSelection(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? -1 : state->selection;
}

void HeadlessControls::SetComboSelection(ControlId id, int index) {
  State* state = Find(id);
  if (state == nullptr) return;
  state->selection = index >= 0 && index < static_cast<int>(state->entries.size()) ? index : -1;
}

void HeadlessControls::AppendListEntry(ControlId id, const std::string& text) {
  AppendComboEntry(id, text);
}

void HeadlessControls::DeleteListEntry(ControlId id, int index) {
  State* state = Find(id);
  if (state == nullptr || index < 0 || index >= static_cast<int>(state->entries.size())) return;
  state->entries.erase(state->entries.begin() + index);
  // The selection follows its entry; deleting the selected entry leaves none selected.
  if (state->selection == index) {
    state->selection = -1;
  } else if (state->selection > index) {
    --state->selection;
  }
}

int HeadlessControls::ListCount(ControlId id) const { return ComboCount(id); }

std::string HeadlessControls::ListEntry(ControlId id, int index) const {
  const State* state = Find(id);
  if (state == nullptr || index < 0 || index >= static_cast<int>(state->entries.size())) return {};
  return state->entries[static_cast<std::size_t>(index)];
}

int HeadlessControls::ListSelection(ControlId id) const { return ComboSelection(id); }

void HeadlessControls::SetListSelection(ControlId id, int index) { SetComboSelection(id, index); }

void HeadlessControls::SetSliderRange(ControlId id, int minimum, int maximum, bool) {
  State* state = Find(id);
  if (state == nullptr) return;
  state->minimum = minimum;
  state->maximum = maximum;
  state->position = std::clamp(state->position, minimum, std::max(minimum, maximum));
}

void HeadlessControls::SetSliderTickFrequency(ControlId id, int frequency) {
  if (State* state = Find(id)) state->tickFrequency = frequency;
}

void HeadlessControls::SetSliderPageSize(ControlId id, int pageSize) {
  if (State* state = Find(id)) state->pageSize = pageSize;
}

int HeadlessControls::SliderPosition(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : state->position;
}

void HeadlessControls::SetSliderPosition(ControlId id, int position, bool) {
  State* state = Find(id);
  if (state == nullptr) return;
  state->position = std::clamp(position, state->minimum, std::max(state->minimum, state->maximum));
}

void HeadlessControls::SetProgressRange(ControlId id, int minimum, int maximum) {
  State* state = Find(id);
  if (state == nullptr) return;
  state->minimum = minimum;
  state->maximum = maximum;
  MoveProgress(id, *state, state->position);
}

void HeadlessControls::SetProgressPosition(ControlId id, int position) {
  if (State* state = Find(id)) MoveProgress(id, *state, position);
}

void HeadlessControls::SetProgressStep(ControlId id, int step) {
  if (State* state = Find(id)) state->step = step;
}

void HeadlessControls::StepProgress(ControlId id) {
  State* state = Find(id);
  if (state == nullptr) return;
  int next = state->position + state->step;
  if (next > state->maximum) next = state->minimum + (next - state->maximum);
  MoveProgress(id, *state, next);
}

void HeadlessControls::MoveProgress(ControlId id, State& state, int position) {
  state.position = std::clamp(position, state.minimum, std::max(state.minimum, state.maximum));
  if (onProgress) onProgress(id, state.position, state.maximum);
}

bool HeadlessControls::Exists(ControlId id) const { return Find(id) != nullptr; }

ControlKind HeadlessControls::KindOf(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? ControlKind::kStatic : state->kind;
}

int HeadlessControls::RangeMinimum(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : state->minimum;
}

int HeadlessControls::RangeMaximum(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : state->maximum;
}

int HeadlessControls::ProgressPosition(ControlId id) const { return SliderPosition(id); }

int HeadlessControls::ProgressStep(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : state->step;
}

int HeadlessControls::SliderTickFrequency(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : state->tickFrequency;
}

int HeadlessControls::SliderPageSize(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? 0 : state->pageSize;
}

std::vector<std::string> HeadlessControls::ComboEntries(ControlId id) const {
  const State* state = Find(id);
  return state == nullptr ? std::vector<std::string>{} : state->entries;
}

void HeadlessShell::ShowMessage(const std::string& text) {
  messages.push_back(text);
  if (onMessage) onMessage(text);
}

void HeadlessShell::ReportNotWritten(const std::string& path, const std::string& reason) {
  if (onNotWritten) onNotWritten(path, reason);
}

std::optional<std::string> HeadlessShell::ChooseFile(const std::string& title,
                                                     const std::vector<FileFilter>& filters) {
  dialogTitles.push_back(title);
  lastFilters = filters;
  if (fileAnswers.empty()) return std::nullopt;
  std::optional<std::string> answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

FolderChoice HeadlessShell::ChooseFolder(const std::string& title) {
  dialogTitles.push_back(title);
  if (folderAnswers.empty()) return {};
  FolderChoice answer = folderAnswers.front();
  folderAnswers.pop_front();
  return answer;
}

bool HeadlessShell::OpenDocument(const std::string& pathOrUrl) {
  openedDocuments.push_back(pathOrUrl);
  return opensDocuments;
}

void HeadlessShell::SetWaitCursor(bool on) {
  waitCursor = on;
  ++waitCursorSwitches;
}

}  // namespace platform
