// The windows of a run of the test bench, created in start-up order: the main window Form1
// (shown; closing it ends the message loop), then the hidden sensor window Form2. Nothing
// is sent to any port here. The globals Form1 and Form2 point at them while they live.
#pragma once

#include <memory>

#include "app/omalcd.h"
#include "sensors/mbmcaf.h"

namespace kelvari {

class MainWindows {
 public:
  MainWindows();
  ~MainWindows();
  MainWindows(const MainWindows&) = delete;
  MainWindows& operator=(const MainWindows&) = delete;

  TForm1& form1() { return *form1_; }
  TForm2& form2() { return *form2_; }

 private:
  std::unique_ptr<TForm1> form1_;
  std::unique_ptr<TForm2> form2_;
};

// Start-up after the application object: creates the windows, runs the message loop until
// the main window closes, then destroys the windows (Form1's port component closes the
// driver). Exceptions pass to the caller.
void runTestBench();

}  // namespace kelvari
