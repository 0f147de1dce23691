// What the tool takes from a window framework and that Qt does not have, on
// Qt: the framework's exception display, the application title, and the
// program's own error boxes (MessageBoxA with no owner, caption "Error", OK).
// The exception class and the integer conversion are the form's
// (FrameworkRules.h, without a toolkit).
#pragma once

#include <QApplication>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "FrameworkRules.h"

// The application title: the executable's file name without its folder, cut
// at its first ".", every character after the first in lower case.
QString ApplicationTitle(const QString& executablePath);
// The title of this process, from the executable's file name.
QString ApplicationTitle();

// Full path of the running executable and its folder.
QString ExecutablePath();
QString ExecutableFolder();

// A message box as the program shows it.
struct ShownMessageBox {
  enum Kind { ErrorBox, ExceptionDisplay };
  Kind kind;
  QString caption;
  QString text;
  QString details;  // shown under the text; empty for none
};

// Test seam: when a hook is set, every box (error box or exception display) is
// handed to it, on the window thread, instead of being shown; the box counts
// as closed when the hook returns. Empty: real boxes.
using MessageBoxHook = std::function<void(const ShownMessageBox&)>;
void SetMessageBoxHook(MessageBoxHook hook);
bool HasMessageBoxHook();
void CallMessageBoxHook(const ShownMessageBox& box);

// The program's own error box (MessageBoxA with no owner, caption "Error", no
// icon, one OK button), on the window thread. ShowErrorBox returns when the
// box is closed; OpenErrorBox shows it without waiting and calls closed once
// it has been closed (right away when a hook took it).
// details, when given, go under the text (what was found, what to do).
void ShowErrorBox(const QString& text, const QString& details = QString());
void OpenErrorBox(const QString& text, std::function<void()> closed, const QString& details = QString());

// The framework's exception display, on the window thread: a modal box with
// the error icon, caption ApplicationTitle(), text ExceptionDisplayText(message).
void ShowExceptionDisplay(const QString& message);
// Shows what an exception carries: an Exception's message, nothing for others.
void ShowCurrentException(std::exception_ptr error);

// The start-up guard: runs body; an Exception that leaves it is shown with the
// exception display, any other exception as an Exception with an empty
// message. Returns 0 in every case.
int GuardedStartup(const std::function<void()>& body);

// Runs an event handler's body and shows what escapes it with the exception
// display, as the application's notify() would. Handlers that Qt calls
// through its own frames (slots of clicks and the like) use it: Qt is built
// without exceptions, and an exception unwound through its frames skips their
// clean-up (leaked event points and guards).
void RunEventHandler(const std::function<void()>& body);

// The application object: every exception that escapes an event handler is
// shown by the exception display, and the loop goes on.
class LumoApplication : public QApplication {
 public:
  LumoApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
