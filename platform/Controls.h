// The window's controls as the program's operations see them: addressed by numeric id, driven by
// a handful of operations. The Qt backend puts real widgets behind this; the headless backend keeps
// the same state in memory for tests and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using ControlId = int;

enum class ControlKind {
  kPushButton,
  kRadioButton,
  kCheckBox,
  kEdit,
  kComboBox,
  kListBox,
  kSlider,
  kProgressBar,
  kGroupBox,
  kStatic,
};

// Style switches of a control, combined with |.
enum ControlStyle : std::uint32_t {
  kStyleNone = 0,
  kStyleReadOnly = 1u << 0,          // edit: only the program writes it
  kStyleAlignCenter = 1u << 1,       // edit text centred
  kStyleAlignRight = 1u << 2,        // edit text right-aligned
  kStyleBorder = 1u << 3,            // drawn with a border
  kStyleVerticalScroll = 1u << 4,    // list box: vertical scroll bar
  kStyleHorizontalScroll = 1u << 5,  // list box: horizontal scroll bar
  kStyleNoAutoScroll = 1u << 6,  // edit: does not scroll horizontally, so its width bounds input
  kStyleAcceptsFiles = 1u << 7,  // list box: files can be dropped on it
  kStyleNoTicks = 1u << 8,       // slider without tick marks
  kStyleSmooth = 1u << 9,        // progress bar drawn as one smooth bar
  kStyleGroupStart = 1u << 10,   // radio button that starts a new group
};

// Position and size in dialog units.
struct DialogRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// One control of a form: what both backends build from. Labels and frames have id kNoControlId.
struct ControlDefinition {
  ControlId id = 0;
  ControlKind kind = ControlKind::kStatic;
  std::string caption;
  std::uint32_t style = kStyleNone;
  DialogRect rect;
};

inline constexpr ControlId kNoControlId = -1;

class Controls {
 public:
  virtual ~Controls() = default;

  // Radio buttons and check boxes.
  virtual bool IsChecked(ControlId id) const = 0;
  virtual void SetChecked(ControlId id, bool checked) = 0;

  // The window text of any control (an edit's content, a button's caption).
  virtual std::string Text(ControlId id) const = 0;
  virtual void SetText(ControlId id, const std::string& text) = 0;

  // Combo boxes. Selection −1 means none; selecting an index outside the entries selects none.
  virtual void AppendComboEntry(ControlId id, const std::string& text) = 0;
  virtual int ComboCount(ControlId id) const = 0;
  virtual int ComboSelection(ControlId id) const = 0;
  virtual void SetComboSelection(ControlId id, int index) = 0;

  // List boxes. Selection −1 means none; deleting an entry outside the list does nothing.
  virtual void AppendListEntry(ControlId id, const std::string& text) = 0;
  virtual void DeleteListEntry(ControlId id, int index) = 0;
  virtual int ListCount(ControlId id) const = 0;
  virtual std::string ListEntry(ControlId id, int index) const = 0;
  virtual int ListSelection(ControlId id) const = 0;
  virtual void SetListSelection(ControlId id, int index) = 0;

  // Sliders. The position is kept within the range.
  virtual void SetSliderRange(ControlId id, int minimum, int maximum, bool redraw) = 0;
  virtual void SetSliderTickFrequency(ControlId id, int frequency) = 0;
  virtual void SetSliderPageSize(ControlId id, int pageSize) = 0;
  virtual int SliderPosition(ControlId id) const = 0;
  virtual void SetSliderPosition(ControlId id, int position, bool redraw) = 0;

  // Progress bars. Stepping past the maximum starts over from the minimum, as the platform's bar
  // does.
  virtual void SetProgressRange(ControlId id, int minimum, int maximum) = 0;
  virtual void SetProgressPosition(ControlId id, int position) = 0;
  virtual void SetProgressStep(ControlId id, int step) = 0;
  virtual void StepProgress(ControlId id) = 0;

  // Whether the user can use the control; a disabled control shows greyed and takes no input.
  virtual bool IsEnabled(ControlId id) const = 0;
  virtual void SetEnabled(ControlId id, bool enabled) = 0;
};

}  // namespace platform
