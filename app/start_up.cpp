// Creation of the test bench's windows in start-up order.
#include "app/start_up.h"

#include <QApplication>

namespace kelvari {

MainWindows::MainWindows() : form1_(std::make_unique<TForm1>()) {
  Form1 = form1_.get();
  form2_ = std::make_unique<TForm2>();
  Form2 = form2_.get();
  form1_->show();
}

MainWindows::~MainWindows() {
  Form2 = nullptr;
  form2_.reset();
  Form1 = nullptr;
}

void runTestBench() {
  const MainWindows windows;
  QApplication::exec();
}

}  // namespace kelvari
