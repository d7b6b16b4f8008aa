#include "app/FormView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QSlider>
#include <QUrl>
#include <vector>

#include "engine/ControlIds.h"
#include "form/ControlTable.h"

namespace app {
namespace {

// The local files among the URLs of a drag, in their order.
std::vector<std::string> LocalFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  }
  return paths;
}

}  // namespace

FormView::FormView(platform::Shell& shell, std::string executableFolder, QWidget* parent)
    : QWidget(parent) {
  controls_ = std::make_unique<QtControls>(this, form::MainFormControls(), DialogFont());
  const DialogUnits& units = controls_->Units();
  setFixedSize(units.Horizontal(form::kFormWidth), units.Vertical(form::kFormHeight));
  form_ = std::make_unique<form::MainForm>(*controls_, shell, std::move(executableFolder));
  ConnectControls();
}

FormView::~FormView() {
  form_->RemovePreviewImages();
  // The widgets go first, while the form they report to still exists.
  const QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) child->disconnect(this);
  qDeleteAll(children);
  form_.reset();
}

void FormView::ConnectControls() {
  for (const platform::ControlDefinition& definition : form::MainFormControls()) {
    QWidget* widget = controls_->Widget(definition.id);
    if (widget == nullptr) continue;
    const platform::ControlId id = definition.id;
    switch (definition.kind) {
      case platform::ControlKind::kPushButton:
        connect(static_cast<QAbstractButton*>(widget), &QAbstractButton::clicked, this,
                [this, id] { ButtonClicked(id); });
        break;
      case platform::ControlKind::kSlider:
        // Every move the user makes (dragging, clicking beside the thumb, keys) changes the value;
        // positions set by the program do not signal.
        connect(static_cast<QSlider*>(widget), &QSlider::valueChanged, this,
                [this, id] { form_->OnHorizontalScroll(id); });
        break;
      case platform::ControlKind::kListBox:
        if (id == engine::kInputList) {
          auto* list = static_cast<QListWidget*>(widget);
          // A selection made with the keys is complete at once; one made with the mouse when the
          // button is released (a drag over the rows passes many on its way).
          connect(list, &QListWidget::itemSelectionChanged, this, [this] {
            if (!selectingWithMouse_) ShowSelectedEntry();
          });
          // A double-click selects like a click and does nothing more.
          dropTarget_ = list->viewport();
          dropTarget_->installEventFilter(this);
        }
        break;
      default:
        break;
    }
  }
}

void FormView::KeepingFocus(const std::function<void()>& handler) {
  // The form disables its controls while it waits for a conversion, which takes the focus away
  // from the one the user was on (the list, as the arrow keys walk it): it goes back there.
  const QPointer<QWidget> focused = QApplication::focusWidget();
  handler();
  if (QWidget* widget = focused.data()) {
    if (widget->isEnabled() && QApplication::focusWidget() != widget) widget->setFocus();
  }
}

void FormView::ButtonClicked(platform::ControlId id) {
  KeepingFocus([this, id] { RunButton(id); });
}

void FormView::RunButton(platform::ControlId id) {
  switch (id) {
    case engine::kAddFileButton:
      form_->AddFileFromDialog();
      break;
    case engine::kDeleteOneButton:
      form_->DeleteSelectedEntry();
      break;
    case engine::kDeleteAllButton:
      form_->DeleteAllEntries();
      break;
    case engine::kTotalSizeButton:
      form_->ShowTotalSize();
      break;
    case engine::kBrowseFolderButton:
      form_->ChooseOutputFolder();
      break;
    case engine::kExecuteButton:
      form_->BatchRun();
      break;
    case engine::kPreviewButton:
      form_->QualityPreview();
      break;
    default:
      break;
  }
}

void FormView::ShowSelectedEntry() {
  // A Ctrl+click can clear the selection; only a selected entry is shown.
  if (controls_->ListSelection(engine::kInputList) >= 0) {
    KeepingFocus([this] { form_->ShowSelectedFile(); });
  }
}

bool FormView::ListMouseEvent(QMouseEvent* event) {
  auto* list = static_cast<QListWidget*>(controls_->Widget(engine::kInputList));
  if (event->type() == QEvent::MouseButtonRelease) {
    if (!selectingWithMouse_ || event->button() != Qt::LeftButton) return false;
    selectingWithMouse_ = false;
    // Also a click on the entry already selected: the entry is shown afresh.
    ShowSelectedEntry();
    return false;
  }
  if (event->button() != Qt::LeftButton) return false;
  if (!list->indexAt(event->position().toPoint()).isValid()) {
    // The blank area below the entries keeps the selection, as the list of a form does.
    list->setFocus(Qt::MouseFocusReason);
    return true;
  }
  if (event->type() == QEvent::MouseButtonPress) selectingWithMouse_ = true;
  return false;
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != dropTarget_) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
      return ListMouseEvent(static_cast<QMouseEvent*>(event));
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      if (LocalFiles(drag->mimeData()).empty()) {
        drag->ignore();
      } else {
        drag->acceptProposedAction();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      std::vector<std::string> paths = LocalFiles(drop->mimeData());
      // The list is not changed while a run or a preview conversion is under way.
      if (paths.empty() || form_->Busy()) {
        drop->ignore();
        return true;
      }
      drop->acceptProposedAction();
      // The files are added once the drag has finished, so the program the files came from is
      // not kept waiting while message boxes about them are open.
      QMetaObject::invokeMethod(
          this, [this, paths = std::move(paths)] { form_->AddDroppedFiles(paths); },
          Qt::QueuedConnection);
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void FormView::contextMenuEvent(QContextMenuEvent* event) { event->accept(); }

}  // namespace app
