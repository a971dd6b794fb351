// The application object and the standard exception display.
#include "app/application.h"

#include <QCursor>
#include <QMessageBox>
#include <cstdio>

namespace kelvari {
namespace {

void showInMessageBox(const QString& message) {
  if (QApplication::instance() == nullptr) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(), message);
}

bool hasGuiApplication() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr; }

bool busyCursorOnTop() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

Application::ExceptionDisplay& currentDisplay() {
  static Application::ExceptionDisplay display = showInMessageBox;
  return display;
}

}  // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationVersion(QStringLiteral(KELVARI_VERSION));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

BusyCursor::BusyCursor() : shown_(hasGuiApplication()) {
  if (shown_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor() {
  if (shown_) QGuiApplication::restoreOverrideCursor();
}

BusyCursorLifted::BusyCursorLifted() {
  if (!hasGuiApplication()) return;
  for (; busyCursorOnTop(); ++lifted_) QGuiApplication::restoreOverrideCursor();
}

BusyCursorLifted::~BusyCursorLifted() {
  for (int i = 0; i < lifted_; ++i) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void Application::ShowException(const std::exception& error) { currentDisplay()(QString::fromUtf8(error.what())); }

void Application::ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    currentDisplay()(QStringLiteral("Unknown error."));
  }
}

Application::ExceptionDisplay Application::setExceptionDisplay(ExceptionDisplay display) {
  ExceptionDisplay previous = std::exchange(currentDisplay(), display ? std::move(display) : showInMessageBox);
  return previous;
}

}  // namespace kelvari
