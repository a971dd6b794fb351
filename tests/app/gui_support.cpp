// The test program's application object and the watchers of what the windows show.
#include "gui_support.h"

#include <QAbstractButton>
#include <QCursor>
#include <QPushButton>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace kelvari::test {
namespace {

class ApplicationEnvironment : public testing::Environment {
 public:
  void SetUp() override { application_ = std::make_unique<Application>(argc_, argv_); }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "kelvari-tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<Application> application_;
};

[[maybe_unused]] testing::Environment* const applicationEnvironment =
    testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

void watchForBox(const std::shared_ptr<SeenMessageBox>& seen, int checksLeft) {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr) {
    if (checksLeft > 0) QTimer::singleShot(10, [seen, checksLeft] { watchForBox(seen, checksLeft - 1); });
    return;
  }
  seen->seen = true;
  seen->title = box->windowTitle();
  seen->text = box->text();
  seen->detailedText = box->detailedText();
  seen->icon = box->icon();
  seen->buttons = static_cast<int>(box->standardButtons());
  const QCursor* cursor = QGuiApplication::overrideCursor();
  seen->busyCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
  box->defaultButton() != nullptr ? box->defaultButton()->click() : box->reject();
}

}  // namespace

ShownExceptions::ShownExceptions()
    : previous_(Application::setExceptionDisplay([this](const QString& message) { messages_.append(message); })) {}

ShownExceptions::~ShownExceptions() { Application::setExceptionDisplay(previous_); }

ModalBoxWatcher::ModalBoxWatcher() : seen_(std::make_shared<SeenMessageBox>()) {
  QTimer::singleShot(0, [seen = seen_] { watchForBox(seen, 300); });
}

}  // namespace kelvari::test
