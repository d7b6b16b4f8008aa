// The main form's controls as Qt widgets. Every control of a control table becomes a widget on the
// form, placed by its dialog units; the Controls operations read and change those widgets. Changes
// made through these operations never emit the widgets' user signals, so only what the user does
// reaches the form's handlers.
#pragma once

#include <QWidget>
#include <map>
#include <string>
#include <vector>

#include "app/DialogUnits.h"
#include "platform/Controls.h"

class QButtonGroup;
class QStyle;

namespace app {

class QtControls : public platform::Controls {
 public:
  // Builds one widget per definition as a child of `form`, in table order (which is also the tab
  // order), and gives the form the dialog font.
  QtControls(QWidget* form, const std::vector<platform::ControlDefinition>& definitions,
             const QFont& font);

  bool IsChecked(platform::ControlId id) const override;
  void SetChecked(platform::ControlId id, bool checked) override;
  std::string Text(platform::ControlId id) const override;
  void SetText(platform::ControlId id, const std::string& text) override;
  void AppendComboEntry(platform::ControlId id, const std::string& text) override;
  int ComboCount(platform::ControlId id) const override;
  int ComboSelection(platform::ControlId id) const override;
  void SetComboSelection(platform::ControlId id, int index) override;
  void AppendListEntry(platform::ControlId id, const std::string& text) override;
  void DeleteListEntry(platform::ControlId id, int index) override;
  int ListCount(platform::ControlId id) const override;
  std::string ListEntry(platform::ControlId id, int index) const override;
  int ListSelection(platform::ControlId id) const override;
  void SetListSelection(platform::ControlId id, int index) override;
  void SetSliderRange(platform::ControlId id, int minimum, int maximum, bool redraw) override;
  void SetSliderTickFrequency(platform::ControlId id, int frequency) override;
  void SetSliderPageSize(platform::ControlId id, int pageSize) override;
  int SliderPosition(platform::ControlId id) const override;
  void SetSliderPosition(platform::ControlId id, int position, bool redraw) override;
  void SetProgressRange(platform::ControlId id, int minimum, int maximum) override;
  void SetProgressPosition(platform::ControlId id, int position) override;
  void SetProgressStep(platform::ControlId id, int step) override;
  void StepProgress(platform::ControlId id) override;
  bool IsEnabled(platform::ControlId id) const override;
  void SetEnabled(platform::ControlId id, bool enabled) override;

  // The widget of a control id, or nullptr.
  QWidget* Widget(platform::ControlId id) const;
  // Every widget built, labels and frames included, in table order.
  const std::vector<QWidget*>& Widgets() const { return widgets_; }
  const DialogUnits& Units() const { return units_; }

 private:
  struct Control {
    platform::ControlKind kind = platform::ControlKind::kStatic;
    QWidget* widget = nullptr;
    // The window text of controls that do not show one (list box, slider, progress bar).
    std::string text;
    // The progress bar's range, position and step, kept here because the bar itself refuses
    // positions outside its range and knows no step.
    int minimum = 0;
    int maximum = 100;
    int position = 0;
    int step = 10;
  };

  QWidget* Build(QWidget* form, const platform::ControlDefinition& definition);
  Control* Find(platform::ControlId id, platform::ControlKind kind);
  const Control* Find(platform::ControlId id, platform::ControlKind kind) const;
  void MoveProgress(Control& control, int position);

  DialogUnits units_;
  std::map<platform::ControlId, Control> controls_;
  std::vector<QWidget*> widgets_;
  // The style of the group boxes, radio buttons and check boxes.
  QStyle* style_ = nullptr;
  // The radio group under construction: a group-start radio button opens a new one.
  QButtonGroup* radioGroup_ = nullptr;
};

}  // namespace app
