// TComponent's owner-managed lifetime.
#include "toolkit/toolkit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;

class Logged : public TComponent {
 public:
  Logged(TComponent* owner, std::string name, std::vector<std::string>& log) : TComponent(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Logged() override { log_.push_back(Name()); }

 private:
  std::vector<std::string>& log_;
};

TEST(ComponentTest, OwnerDestroysWhatItOwnsMostRecentFirstAndDepthFirst) {
  std::vector<std::string> destroyed;
  {
    TComponent form(nullptr);
    auto* first = new Logged(&form, "first", destroyed);
    new Logged(first, "first.child", destroyed);
    new Logged(&form, "second", destroyed);
    EXPECT_EQ(form.ComponentCount(), 2);
    EXPECT_EQ(first->Owner(), &form);
    EXPECT_EQ(form.Components(0), first);
  }
  EXPECT_THAT(destroyed, ElementsAre("second", "first", "first.child"));
}

TEST(ComponentTest, ComponentDestroyedEarlyLeavesItsOwner) {
  std::vector<std::string> destroyed;
  {
    TComponent form(nullptr);
    auto* early = new Logged(&form, "early", destroyed);
    new Logged(&form, "late", destroyed);
    delete early;
    ASSERT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.Components(0)->Name(), "late");
  }
  EXPECT_THAT(destroyed, ElementsAre("early", "late"));
}

TEST(ComponentTest, PropertiesAndIndexBounds) {
  TComponent component(nullptr);
  EXPECT_EQ(component.Owner(), nullptr);
  EXPECT_EQ(component.Name(), "");
  EXPECT_EQ(component.Tag(), 0);
  component.SetName("DLPortIO1");
  component.SetTag(-7);
  EXPECT_EQ(component.Name(), "DLPortIO1");
  EXPECT_EQ(component.Tag(), -7);
  EXPECT_THROW(component.Components(0), std::out_of_range);
  EXPECT_THROW(component.Components(-1), std::out_of_range);
}

}  // namespace
