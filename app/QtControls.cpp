#include "app/QtControls.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>
#include <algorithm>

#include "app/FormStyle.h"

namespace app {
namespace {

using platform::ControlDefinition;
using platform::ControlId;
using platform::ControlKind;

// A drop-down combo box shows its edit field this high; the height in the control table is the
// height of the dropped-down list, as on the platform the table was drawn for.
constexpr int kComboFieldHeight = 12;

// QLineEdit keeps this many pixels between its contents rectangle and the text on either side.
constexpr int kLineEditTextMargin = 2;

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

// Refuses any input wider than the edit's text area: an edit that does not scroll horizontally
// takes no more text than it can show. Text the program sets is not checked.
class FitsWidthValidator : public QValidator {
 public:
  explicit FitsWidthValidator(QLineEdit* edit) : QValidator(edit), edit_(edit) {}

  State validate(QString& input, int&) const override {
    return QFontMetrics(edit_->font()).horizontalAdvance(input) <= TextAreaWidth() ? Acceptable
                                                                                   : Invalid;
  }

 private:
  int TextAreaWidth() const {
    QStyleOptionFrame option;
    option.initFrom(edit_);
    option.rect = edit_->rect();
    option.lineWidth = edit_->hasFrame() ? edit_->style()->pixelMetric(QStyle::PM_DefaultFrameWidth,
                                                                       &option, edit_)
                                         : 0;
    const QRect contents = edit_->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit_)
                               .marginsRemoved(edit_->textMargins());
    // One pixel stays free for the text cursor after the last character.
    return contents.width() - 2 * kLineEditTextMargin - 1;
  }

  QLineEdit* edit_;
};

// The group's tab stop: its checked button, or its first when none is checked. Tab enters a radio
// group there and leaves it from any of its buttons; the other buttons take focus by click or
// arrow.
void PlaceTabStop(QButtonGroup* group) {
  const QList<QAbstractButton*> buttons = group->buttons();
  if (buttons.isEmpty()) return;
  const auto checked =
      std::find_if(buttons.begin(), buttons.end(),
                   [](const QAbstractButton* button) { return button->isChecked(); });
  const QAbstractButton* stop = checked == buttons.end() ? buttons.front() : *checked;
  for (QAbstractButton* button : buttons) {
    button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

// A radio button of a form's group. The buttons are not exclusive, so the program can check one
// without touching the others; the user works them as a group: the arrow keys move to the previous
// or next button of the group (round at the ends) and click it, which checks it alone.
class GroupRadioButton : public QRadioButton {
 public:
  using QRadioButton::QRadioButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    QButtonGroup* buttonGroup = group();
    int step = 0;
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Left) step = -1;
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Right) step = 1;
    if (buttonGroup == nullptr || step == 0 || event->modifiers() != Qt::NoModifier) {
      QRadioButton::keyPressEvent(event);
      return;
    }
    const QList<QAbstractButton*> buttons = buttonGroup->buttons();
    const auto count = buttons.size();
    QAbstractButton* next = buttons[(buttons.indexOf(this) + step + count) % count];
    next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    next->click();
  }

  void focusInEvent(QFocusEvent* event) override {
    // Qt moves a group's tab stop to whichever button takes focus; it stays on the checked one.
    QRadioButton::focusInEvent(event);
    if (group() != nullptr) PlaceTabStop(group());
  }
};

// A push button of the form: Return and keypad Enter press the button that has the focus, as
// Space does (Qt leaves the two keys to the default button of dialogs). A held key presses it once.
class FormPushButton : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
      QPushButton::keyPressEvent(event);
      return;
    }
    event->accept();
    if (!event->isAutoRepeat()) click();
  }
};

QLineEdit* BuildEdit(QWidget* form, const ControlDefinition& definition) {
  auto* edit = new QLineEdit(form);
  edit->setReadOnly((definition.style & platform::kStyleReadOnly) != 0);
  edit->setFrame((definition.style & platform::kStyleBorder) != 0);
  Qt::Alignment alignment = Qt::AlignLeft;
  if ((definition.style & platform::kStyleAlignCenter) != 0) {
    alignment = Qt::AlignHCenter;
    // The narrow number boxes give their text the whole inside of the frame, and the cursor one
    // pixel more, so four digits fit the crop height box; the text stays centred, off the frame.
    edit->setTextMargins(-kLineEditTextMargin - 1, 0, -kLineEditTextMargin, 0);
  }
  if ((definition.style & platform::kStyleAlignRight) != 0) alignment = Qt::AlignRight;
  edit->setAlignment(alignment | Qt::AlignVCenter);
  if (edit->isReadOnly()) {
    // A field only the program writes is drawn on the window's colour, so it does not invite
    // typing. It takes the focus by a click (to copy its text) but is no Tab stop: when the form
    // disables the focused list for a moment, the focus would move on to the next Tab stop, the
    // entry count, and the arrow keys would end there instead of in the list.
    edit->setFocusPolicy(Qt::ClickFocus);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
  }
  if ((definition.style & platform::kStyleNoAutoScroll) != 0) {
    edit->setValidator(new FitsWidthValidator(edit));
  }
  // Only the input list takes drops; an edit would otherwise paste a dropped file's name.
  edit->setAcceptDrops(false);
  return edit;
}

QComboBox* BuildCombo(QWidget* form) {
  auto* combo = new QComboBox(form);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setCompleter(nullptr);
  combo->lineEdit()->setAcceptDrops(false);
  return combo;
}

QListWidget* BuildList(QWidget* form, const ControlDefinition& definition) {
  auto* list = new QListWidget(form);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformItemSizes(true);
  list->setFrameShape((definition.style & platform::kStyleBorder) != 0 ? QFrame::StyledPanel
                                                                       : QFrame::NoFrame);
  if ((definition.style & platform::kStyleVerticalScroll) == 0) {
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  if ((definition.style & platform::kStyleHorizontalScroll) == 0) {
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  const bool acceptsFiles = (definition.style & platform::kStyleAcceptsFiles) != 0;
  list->setAcceptDrops(acceptsFiles);
  list->viewport()->setAcceptDrops(acceptsFiles);
  return list;
}

QSlider* BuildSlider(QWidget* form, const ControlDefinition& definition) {
  auto* slider = new QSlider(Qt::Horizontal, form);
  // The platform's slider starts with the range 0..100 and a page of a fifth of it.
  slider->setRange(0, 100);
  slider->setPageStep(20);
  slider->setTickPosition((definition.style & platform::kStyleNoTicks) != 0 ? QSlider::NoTicks
                                                                            : QSlider::TicksBelow);
  return slider;
}

QProgressBar* BuildProgressBar(QWidget* form) {
  auto* bar = new QProgressBar(form);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

}  // namespace

QtControls::QtControls(QWidget* form, const std::vector<ControlDefinition>& definitions,
                       const QFont& font)
    : units_(font) {
  form->setFont(font);
  style_ = new FormStyle;
  for (const ControlDefinition& definition : definitions) {
    QWidget* widget = Build(form, definition);
    widgets_.push_back(widget);
    if (definition.id == platform::kNoControlId) continue;
    Control& control = controls_[definition.id];
    control.kind = definition.kind;
    control.widget = widget;
    if (definition.kind == ControlKind::kListBox || definition.kind == ControlKind::kSlider ||
        definition.kind == ControlKind::kProgressBar) {
      control.text = definition.caption;
    }
  }
  // Owned by the form from here on, after the widgets that use it, so it goes after them.
  style_->setParent(form);
}

QWidget* QtControls::Build(QWidget* form, const ControlDefinition& definition) {
  const QString caption = FromUtf8(definition.caption);
  QRect geometry = units_.ToPixels(definition.rect);
  QWidget* widget = nullptr;
  switch (definition.kind) {
    case ControlKind::kPushButton: {
      auto* button = new FormPushButton(caption, form);
      button->setAutoDefault(false);
      widget = button;
      break;
    }
    case ControlKind::kRadioButton: {
      auto* radio = new GroupRadioButton(caption, form);
      radio->setStyle(style_);
      radio->setAutoExclusive(false);
      if (radioGroup_ == nullptr || (definition.style & platform::kStyleGroupStart) != 0) {
        // The group only collects its buttons: the program may check and uncheck each one on its
        // own, while a click checks the clicked button and unchecks the rest of its group alone.
        radioGroup_ = new QButtonGroup(form);
        radioGroup_->setExclusive(false);
        QButtonGroup* group = radioGroup_;
        QObject::connect(group, &QButtonGroup::buttonClicked, group,
                         [group](QAbstractButton* clicked) {
                           for (QAbstractButton* button : group->buttons()) {
                             button->setChecked(button == clicked);
                           }
                           PlaceTabStop(group);
                         });
      }
      radioGroup_->addButton(radio);
      PlaceTabStop(radioGroup_);
      widget = radio;
      break;
    }
    case ControlKind::kCheckBox:
      widget = new QCheckBox(caption, form);
      widget->setStyle(style_);
      break;
    case ControlKind::kEdit:
      widget = BuildEdit(form, definition);
      break;
    case ControlKind::kComboBox: {
      QComboBox* combo = BuildCombo(form);
      const int listHeight = geometry.height();
      geometry.setHeight(std::min(listHeight, units_.Vertical(kComboFieldHeight)));
      const int rowHeight = QFontMetrics(form->font()).height() + 2;
      combo->setMaxVisibleItems(std::max(1, (listHeight - geometry.height()) / rowHeight));
      widget = combo;
      break;
    }
    case ControlKind::kListBox:
      widget = BuildList(form, definition);
      break;
    case ControlKind::kSlider:
      widget = BuildSlider(form, definition);
      break;
    case ControlKind::kProgressBar:
      widget = BuildProgressBar(form);
      break;
    case ControlKind::kGroupBox:
      widget = new QGroupBox(caption, form);
      widget->setStyle(style_);
      break;
    case ControlKind::kStatic: {
      auto* label = new QLabel(caption, form);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
  }
  widget->setGeometry(geometry);
  return widget;
}

QtControls::Control* QtControls::Find(ControlId id, ControlKind kind) {
  auto found = controls_.find(id);
  return found == controls_.end() || found->second.kind != kind ? nullptr : &found->second;
}

const QtControls::Control* QtControls::Find(ControlId id, ControlKind kind) const {
  auto found = controls_.find(id);
  return found == controls_.end() || found->second.kind != kind ? nullptr : &found->second;
}

QWidget* QtControls::Widget(ControlId id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second.widget;
}

bool QtControls::IsEnabled(ControlId id) const {
  const QWidget* widget = Widget(id);
  return widget != nullptr && widget->isEnabled();
}

void QtControls::SetEnabled(ControlId id, bool enabled) {
  if (QWidget* widget = Widget(id)) widget->setEnabled(enabled);
}

bool QtControls::IsChecked(ControlId id) const {
  auto* button = qobject_cast<QAbstractButton*>(Widget(id));
  return button != nullptr && button->isCheckable() && button->isChecked();
}

void QtControls::SetChecked(ControlId id, bool checked) {
  auto* button = qobject_cast<QAbstractButton*>(Widget(id));
  if (button == nullptr || !button->isCheckable()) return;
  const QSignalBlocker blocker(button);
  button->setChecked(checked);
  if (button->group() != nullptr) PlaceTabStop(button->group());
}

std::string QtControls::Text(ControlId id) const {
  auto found = controls_.find(id);
  if (found == controls_.end()) return {};
  const Control& control = found->second;
  switch (control.kind) {
    case ControlKind::kPushButton:
    case ControlKind::kRadioButton:
    case ControlKind::kCheckBox:
      return static_cast<QAbstractButton*>(control.widget)->text().toStdString();
    case ControlKind::kEdit:
      return static_cast<QLineEdit*>(control.widget)->text().toStdString();
    case ControlKind::kComboBox:
      // The window text of a drop-down combo box is what its edit field shows.
      return static_cast<QComboBox*>(control.widget)->currentText().toStdString();
    case ControlKind::kGroupBox:
      return static_cast<QGroupBox*>(control.widget)->title().toStdString();
    case ControlKind::kStatic:
      return static_cast<QLabel*>(control.widget)->text().toStdString();
    case ControlKind::kListBox:
    case ControlKind::kSlider:
    case ControlKind::kProgressBar:
      return control.text;
  }
  return {};
}

void QtControls::SetText(ControlId id, const std::string& text) {
  auto found = controls_.find(id);
  if (found == controls_.end()) return;
  Control& control = found->second;
  const QSignalBlocker blocker(control.widget);
  const QString value = FromUtf8(text);
  switch (control.kind) {
    case ControlKind::kPushButton:
    case ControlKind::kRadioButton:
    case ControlKind::kCheckBox:
      static_cast<QAbstractButton*>(control.widget)->setText(value);
      break;
    case ControlKind::kEdit:
      static_cast<QLineEdit*>(control.widget)->setText(value);
      break;
    case ControlKind::kComboBox:
      static_cast<QComboBox*>(control.widget)->setEditText(value);
      break;
    case ControlKind::kGroupBox:
      static_cast<QGroupBox*>(control.widget)->setTitle(value);
      break;
    case ControlKind::kStatic:
      static_cast<QLabel*>(control.widget)->setText(value);
      break;
    case ControlKind::kListBox:
    case ControlKind::kSlider:
    case ControlKind::kProgressBar:
      control.text = text;
      break;
  }
}

void QtControls::AppendComboEntry(ControlId id, const std::string& text) {
  Control* control = Find(id, ControlKind::kComboBox);
  if (control == nullptr) return;
  auto* combo = static_cast<QComboBox*>(control->widget);
  const QSignalBlocker blocker(combo);
  const int selection = combo->currentIndex();
  combo->addItem(FromUtf8(text));
  // Qt selects the first entry of an empty box; appending selects nothing.
  if (combo->currentIndex() != selection) combo->setCurrentIndex(selection);
}

int QtControls::ComboCount(ControlId id) const {
  const Control* control = Find(id, ControlKind::kComboBox);
  return control == nullptr ? 0 : static_cast<QComboBox*>(control->widget)->count();
}

int QtControls::ComboSelection(ControlId id) const {
  const Control* control = Find(id, ControlKind::kComboBox);
  if (control == nullptr) return -1;
  const auto* combo = static_cast<QComboBox*>(control->widget);
  const int index = combo->currentIndex();
  // Typing into the edit field leaves no entry selected until one is chosen again.
  if (index < 0 || combo->currentText() != combo->itemText(index)) return -1;
  return index;
}

void QtControls::SetComboSelection(ControlId id, int index) {
  Control* control = Find(id, ControlKind::kComboBox);
  if (control == nullptr) return;
  auto* combo = static_cast<QComboBox*>(control->widget);
  const QSignalBlocker blocker(combo);
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  // Re-selecting the current entry also drops what was typed over it.
  combo->setEditText(combo->itemText(combo->currentIndex()));
}

void QtControls::AppendListEntry(ControlId id, const std::string& text) {
  Control* control = Find(id, ControlKind::kListBox);
  if (control == nullptr) return;
  auto* list = static_cast<QListWidget*>(control->widget);
  const QSignalBlocker blocker(list);
  auto* item = new QListWidgetItem(FromUtf8(text));
  // The entry's bytes are kept as given: a path need not be valid UTF-8 to be listed and read
  // back unchanged.
  item->setData(Qt::UserRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  list->addItem(item);
}

void QtControls::DeleteListEntry(ControlId id, int index) {
  Control* control = Find(id, ControlKind::kListBox);
  if (control == nullptr) return;
  auto* list = static_cast<QListWidget*>(control->widget);
  if (index < 0 || index >= list->count()) return;
  const int selection = ListSelection(id);
  {
    const QSignalBlocker blocker(list);
    delete list->takeItem(index);
  }
  // The selection follows its entry; deleting the selected entry leaves none selected.
  if (selection == index) {
    SetListSelection(id, -1);
  } else {
    SetListSelection(id, selection > index ? selection - 1 : selection);
  }
}

int QtControls::ListCount(ControlId id) const {
  const Control* control = Find(id, ControlKind::kListBox);
  return control == nullptr ? 0 : static_cast<QListWidget*>(control->widget)->count();
}

std::string QtControls::ListEntry(ControlId id, int index) const {
  const Control* control = Find(id, ControlKind::kListBox);
  if (control == nullptr) return {};
  const QListWidgetItem* item = static_cast<QListWidget*>(control->widget)->item(index);
  if (item == nullptr) return {};
  return item->data(Qt::UserRole).toByteArray().toStdString();
}

int QtControls::ListSelection(ControlId id) const {
  const Control* control = Find(id, ControlKind::kListBox);
  if (control == nullptr) return -1;
  const auto* list = static_cast<QListWidget*>(control->widget);
  const QList<QListWidgetItem*> selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.front());
}

void QtControls::SetListSelection(ControlId id, int index) {
  Control* control = Find(id, ControlKind::kListBox);
  if (control == nullptr) return;
  auto* list = static_cast<QListWidget*>(control->widget);
  const QSignalBlocker blocker(list);
  if (index >= 0 && index < list->count()) {
    list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
  } else {
    list->clearSelection();
    list->setCurrentRow(-1, QItemSelectionModel::Clear);
  }
}

void QtControls::SetSliderRange(ControlId id, int minimum, int maximum, bool) {
  Control* control = Find(id, ControlKind::kSlider);
  if (control == nullptr) return;
  auto* slider = static_cast<QSlider*>(control->widget);
  const QSignalBlocker blocker(slider);
  slider->setRange(minimum, maximum);
}

void QtControls::SetSliderTickFrequency(ControlId id, int frequency) {
  Control* control = Find(id, ControlKind::kSlider);
  if (control != nullptr) static_cast<QSlider*>(control->widget)->setTickInterval(frequency);
}

void QtControls::SetSliderPageSize(ControlId id, int pageSize) {
  Control* control = Find(id, ControlKind::kSlider);
  if (control == nullptr) return;
  auto* slider = static_cast<QSlider*>(control->widget);
  const QSignalBlocker blocker(slider);
  slider->setPageStep(pageSize);
}

int QtControls::SliderPosition(ControlId id) const {
  const Control* control = Find(id, ControlKind::kSlider);
  return control == nullptr ? 0 : static_cast<QSlider*>(control->widget)->value();
}

void QtControls::SetSliderPosition(ControlId id, int position, bool) {
  Control* control = Find(id, ControlKind::kSlider);
  if (control == nullptr) return;
  auto* slider = static_cast<QSlider*>(control->widget);
  const QSignalBlocker blocker(slider);
  slider->setValue(position);
}

void QtControls::SetProgressRange(ControlId id, int minimum, int maximum) {
  Control* control = Find(id, ControlKind::kProgressBar);
  if (control == nullptr) return;
  control->minimum = minimum;
  control->maximum = maximum;
  MoveProgress(*control, control->position);
}

void QtControls::SetProgressPosition(ControlId id, int position) {
  Control* control = Find(id, ControlKind::kProgressBar);
  if (control != nullptr) MoveProgress(*control, position);
}

void QtControls::SetProgressStep(ControlId id, int step) {
  Control* control = Find(id, ControlKind::kProgressBar);
  if (control != nullptr) control->step = step;
}

void QtControls::StepProgress(ControlId id) {
  Control* control = Find(id, ControlKind::kProgressBar);
  if (control == nullptr) return;
  int next = control->position + control->step;
  // Stepping past the end starts over from the beginning, as the platform's bar does.
  if (next > control->maximum) next = control->minimum + (next - control->maximum);
  MoveProgress(*control, next);
}

void QtControls::MoveProgress(Control& control, int position) {
  const int top = std::max(control.minimum, control.maximum);
  control.position = std::clamp(position, control.minimum, top);
  auto* bar = static_cast<QProgressBar*>(control.widget);
  const QSignalBlocker blocker(bar);
  // Qt draws an empty range as a moving "busy" bar; the form's bar stays still and empty then.
  if (top == control.minimum) {
    bar->setRange(0, 1);
    bar->setValue(0);
  } else {
    bar->setRange(control.minimum, top);
    bar->setValue(control.position);
  }
  // A batch runs without returning to the event loop, so the bar is painted at once.
  bar->repaint();
}

}  // namespace app
