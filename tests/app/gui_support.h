// Support for the window tests: the application object for the whole test program, a
// recorder of what the exception display shows, and a watcher that answers the next
// modal dialog the way a user would.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "app/application.h"

class QMessageBox;

namespace kelvari::test {

// Replaces the exception display while it lives and keeps every message shown.
class ShownExceptions {
 public:
  ShownExceptions();
  ~ShownExceptions();
  ShownExceptions(const ShownExceptions&) = delete;
  ShownExceptions& operator=(const ShownExceptions&) = delete;

  const QStringList& messages() const { return messages_; }

 private:
  QStringList messages_;
  Application::ExceptionDisplay previous_;
};

// What a modal message box showed before the watcher closed it.
struct SeenMessageBox {
  bool seen = false;
  QString title;
  QString text;
  QString detailedText;
  int icon = 0;        // QMessageBox::Icon
  int buttons = 0;     // QMessageBox::StandardButtons
  bool busyCursor = false;  // the busy cursor was shown over it
};

// Closes the next modal message box with its default button and records it; gives up after
// a bounded number of checks (the dialog then stays open for the test to fail visibly).
class ModalBoxWatcher {
 public:
  ModalBoxWatcher();
  const SeenMessageBox& seen() const { return *seen_; }

 private:
  std::shared_ptr<SeenMessageBox> seen_;
};

}  // namespace kelvari::test
