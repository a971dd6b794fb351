// A shared-memory segment name of the module's own for one test, removed again at the end.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "t6963/shared_module.h"

namespace portlib_test {

class TestSegment {
 public:
  TestSegment() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = "/kelvari-test-portlib-" + std::to_string(getpid()) + "-" + std::to_string(counter_++) + "-" + test->name();
    name_ = name_.substr(0, 200);
    std::replace(name_.begin() + 1, name_.end(), '/', '_');  // parameterised test names hold '/'
    t6963::SharedModule::remove(name_);
  }
  TestSegment(const TestSegment&) = delete;
  TestSegment& operator=(const TestSegment&) = delete;
  ~TestSegment() { t6963::SharedModule::remove(name_); }

  const std::string& name() const { return name_; }

 private:
  static inline int counter_ = 0;
  std::string name_;
};

}  // namespace portlib_test
