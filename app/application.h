// The application object and its standard exception display: the one place where an
// exception escaping a handler is shown. Every handler of the windows is connected through
// guarded(), and notify() catches whatever else escapes an event, so nothing unwinds
// through Qt and the windows go on working afterwards. guarded() also shows the busy cursor
// while a handler runs; a handler that waits for the user in a modal window lifts it.
#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <functional>
#include <utility>

namespace kelvari {

class Application : public QApplication {
 public:
  // Also sets the application version (the project's, 0.0.4.0).
  Application(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows the exception's message; by default in a modal error message box (on standard
  // error when there is no application object).
  static void ShowException(const std::exception& error);
  // Shows the exception in flight; call only inside a catch block.
  static void ShowCurrentException();

  // Replaces how messages are shown (tests observe them this way) and returns the
  // previous display; an empty function restores the message box.
  using ExceptionDisplay = std::function<void(const QString& message)>;
  static ExceptionDisplay setExceptionDisplay(ExceptionDisplay display);
};

// Shows the busy cursor over every window of the application while it lives (nothing
// without a GUI application object).
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  bool shown_;
};

// Takes away every busy cursor shown while it lives, for a modal window that waits for the
// user inside a handler, and puts them back afterwards.
class BusyCursorLifted {
 public:
  BusyCursorLifted();
  ~BusyCursorLifted();
  BusyCursorLifted(const BusyCursorLifted&) = delete;
  BusyCursorLifted& operator=(const BusyCursorLifted&) = delete;

 private:
  int lifted_ = 0;
};

// Runs the handler under the busy cursor; an exception escaping it goes to the standard
// exception display, shown after the busy cursor is gone.
template <typename Handler>
void runGuarded(Handler&& handler) {
  try {
    const BusyCursor busy;
    std::forward<Handler>(handler)();
  } catch (...) {
    Application::ShowCurrentException();
  }
}

// The handler wrapped for connecting to a signal.
template <typename Handler>
auto guarded(Handler handler) {
  return [handler = std::move(handler)]() mutable { runGuarded(handler); };
}

}  // namespace kelvari
