// The test bench's entry point: takes nothing from the command line and returns 0.
#include "app/application.h"
#include "app/start_up.h"

int main(int argc, char** argv) {
  kelvari::Application application(argc, argv);
  try {
    kelvari::runTestBench();
  } catch (...) {
    kelvari::Application::ShowCurrentException();
  }
  return 0;
}
