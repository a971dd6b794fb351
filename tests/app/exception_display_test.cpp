// The standard exception display: handlers connected through guarded() and events that
// throw both reach it once, the default display is a modal error box, and the program goes
// on handling events afterwards. Handlers run under the busy cursor, which is gone before
// an error is shown and after every handler, and is lifted while a modal window waits.
#include <QCursor>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <stdexcept>

#include "gui_support.h"

namespace kelvari::test {
namespace {

class ThrowingObject : public QObject {
 public:
  int events = 0;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    ++events;
    throw std::runtime_error("event failed");
  }
};

TEST(ExceptionDisplay, HandlerExceptionIsShownOnceAndTheButtonKeepsWorking) {
  ShownExceptions shown;
  QPushButton button;
  int presses = 0;
  QObject::connect(&button, &QPushButton::clicked, guarded([&] {
                     ++presses;
                     throw std::runtime_error("press " + std::to_string(presses) + " failed");
                   }));
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(presses, 2);
  EXPECT_EQ(shown.messages(), QStringList({"press 1 failed", "press 2 failed"}));
}

TEST(ExceptionDisplay, ExceptionEscapingAnEventIsCaughtByTheApplication) {
  ShownExceptions shown;
  ThrowingObject object;
  QEvent event(QEvent::User);
  QApplication::sendEvent(&object, &event);
  QApplication::sendEvent(&object, &event);
  EXPECT_EQ(object.events, 2);
  EXPECT_EQ(shown.messages(), QStringList({"event failed", "event failed"}));
}

TEST(ExceptionDisplay, SomethingThatIsNoStandardExceptionIsStillShown) {
  ShownExceptions shown;
  runGuarded([] { throw 42; });
  ASSERT_EQ(shown.messages().size(), 1);
  EXPECT_FALSE(shown.messages()[0].isEmpty());
}

TEST(ExceptionDisplay, DefaultDisplayIsAModalErrorBoxWithTheMessage) {
  ModalBoxWatcher watcher;
  Application::ShowException(std::runtime_error("'x' is not a valid integer value"));
  ASSERT_TRUE(watcher.seen().seen);
  EXPECT_EQ(watcher.seen().text, "'x' is not a valid integer value");
  EXPECT_EQ(watcher.seen().icon, QMessageBox::Critical);
  EXPECT_EQ(watcher.seen().buttons, QMessageBox::Ok);
}

bool busyCursorShown() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

TEST(BusyCursor, ShownWhileAHandlerRunsAndGoneBeforeItsErrorIsShownAndAfterIt) {
  for (const bool throws : {false, true}) {
    std::vector<bool> busyWhileShown;
    const Application::ExceptionDisplay previous = Application::setExceptionDisplay(
        [&busyWhileShown](const QString&) { busyWhileShown.push_back(busyCursorShown()); });
    bool busyInHandler = false;
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked, guarded([&] {
                       busyInHandler = busyCursorShown();
                       if (throws) throw std::runtime_error("failed");
                     }));
    QTest::mouseClick(&button, Qt::LeftButton);
    Application::setExceptionDisplay(previous);

    EXPECT_TRUE(busyInHandler) << "throws " << throws;
    EXPECT_EQ(busyWhileShown, throws ? std::vector<bool>{false} : std::vector<bool>{}) << "throws " << throws;
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "throws " << throws;
  }
}

TEST(BusyCursor, LiftedWhileAModalWindowWaitsInsideNestedHandlers) {
  std::vector<bool> busy;
  runGuarded([&] {
    runGuarded([&] {
      {
        const BusyCursorLifted waiting;
        busy.push_back(busyCursorShown());
        runGuarded([&] { busy.push_back(busyCursorShown()); });
        busy.push_back(busyCursorShown());
      }
      busy.push_back(busyCursorShown());
    });
    busy.push_back(busyCursorShown());
  });
  EXPECT_EQ(busy, (std::vector<bool>{false, true, false, true, true}));
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace kelvari::test
