// The main form as a Qt widget: the controls of the control table, the form's operations behind
// them, and the wiring from what the user does to those operations.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

class QMouseEvent;

#include "app/QtControls.h"
#include "form/MainForm.h"
#include "platform/Shell.h"

namespace app {

class FormView : public QWidget {
 public:
  // The form's message boxes and dialogs go to `shell`. The executable's folder is the running
  // program's unless one is given.
  explicit FormView(platform::Shell& shell, std::string executableFolder = {},
                    QWidget* parent = nullptr);
  // Deletes the preview images before the form goes away.
  ~FormView() override;
  FormView(const FormView&) = delete;
  FormView& operator=(const FormView&) = delete;

  QtControls& Controls() { return *controls_; }
  form::MainForm& Form() { return *form_; }

 protected:
  // Routes file drops on the input list to the form.
  bool eventFilter(QObject* watched, QEvent* event) override;
  // A right-click on the form does nothing.
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void ConnectControls();
  void ButtonClicked(platform::ControlId id);
  // The selected entry of the input list, before and after conversion.
  void ShowSelectedEntry();
  // A mouse button on the input list; true when the list must not see it.
  bool ListMouseEvent(QMouseEvent* event);
  void RunButton(platform::ControlId id);
  // Runs a handler and gives the focus back to the control that had it.
  void KeepingFocus(const std::function<void()>& handler);

  std::unique_ptr<QtControls> controls_;
  std::unique_ptr<form::MainForm> form_;
  QWidget* dropTarget_ = nullptr;
  // A mouse button went down on an entry and has not come up yet.
  bool selectingWithMouse_ = false;
};

}  // namespace app
