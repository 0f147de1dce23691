// What the form model asks of the window that shows it. A view implements
// this with its toolkit, on its window thread; the model calls it on that
// thread only. The view's job side (status texts, the job's controls, the
// worker's messages, the pump step) is the job's JobObserver, handed to the
// model beside the view.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Layout.h"
#include "PortList.h"

// What a Browse asks the open-file dialog for.
struct FileQuestion {
  std::string Title;        // empty: the dialog's own
  std::string Folder;       // empty: where the dialog was left (at first the working folder)
  std::string Filter;       // empty: every file
  std::string OfferedFile;  // offered as the choice: the file chosen last; empty at first
};

class FormView {
 public:
  virtual ~FormView() = default;
  // An edit's text, a combo box's edit text, a label's or button's caption.
  virtual void SetControlText(FormControl control, const std::string& text) = 0;
  // The port box's items, in order; with any, the first becomes the box's text.
  virtual void SetPortItems(const std::vector<PortItem>& items) = 0;
  // The open-file dialog, modal; the chosen file's full path, nullopt when
  // the user cancelled.
  virtual std::optional<std::string> AskForFile(const FileQuestion& question) = 0;
  // The program's error box (no owner, caption "Error", no icon, OK), with
  // details under the text when not empty; returns once it has been closed.
  virtual void ShowErrorBox(const std::string& text, const std::string& details) = 0;
  // The framework's exception display (error icon, the application title as
  // caption, ExceptionDisplayText(message)); returns once it has been closed.
  virtual void ShowExceptionDisplay(const std::string& message) = 0;
};
