// The toolkit conversions: StrToInt's accepted forms and its error, IntToStr, FloatToStr's
// general format with either decimal separator, ExtractFileDir and ParamStr.
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>

namespace {

struct IntRow {
  std::string text;
  int value;
};

class StrToIntValidTest : public ::testing::TestWithParam<IntRow> {};

TEST_P(StrToIntValidTest, Converts) { EXPECT_EQ(StrToInt(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(
    Forms, StrToIntValidTest,
    ::testing::Values(IntRow{"0", 0}, IntRow{"42", 42}, IntRow{"-42", -42}, IntRow{"+7", 7}, IntRow{"007", 7},
                      IntRow{"   12", 12}, IntRow{"2147483647", 2147483647},
                      IntRow{"-2147483648", std::numeric_limits<int>::min()}, IntRow{"$FF", 255},
                      IntRow{"$ff", 255}, IntRow{"0x1F", 31}, IntRow{"0X1f", 31}, IntRow{"-$10", -16},
                      IntRow{"$7FFFFFFF", 2147483647}, IntRow{"$FFFFFFFF", -1},
                      IntRow{"$80000000", std::numeric_limits<int>::min()}, IntRow{" -0x0A", -10}));

class StrToIntInvalidTest : public ::testing::TestWithParam<std::string> {};

TEST_P(StrToIntInvalidTest, RaisesTheConversionErrorNamingTheText) {
  const std::string& text = GetParam();
  try {
    StrToInt(text);
    ADD_FAILURE() << "no error for '" << text << "'";
  } catch (const EConvertError& error) {
    EXPECT_EQ(std::string(error.what()), "'" + text + "' is not a valid integer value");
  }
}

INSTANTIATE_TEST_SUITE_P(Rejected, StrToIntInvalidTest,
                         ::testing::Values("", " ", "12 ", "1.5", "abc", "12a", "1e3", "--1", "+-1", "- 5", "\t5",
                                           "2147483648", "-2147483649", "99999999999999999999", "$", "0x", "$G",
                                           "0x-1", "$100000000", "Jotain"));

TEST(IntToStrTest, PlainSignedDecimal) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-5), "-5");
  EXPECT_EQ(IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

struct FloatRow {
  double value;
  std::string point;
  std::string comma;
};

class FloatToStrTest : public ::testing::TestWithParam<FloatRow> {
 protected:
  void TearDown() override { SetDecimalSeparator('.'); }
};

TEST_P(FloatToStrTest, GeneralFormatWithTheSeparatorSet) {
  SetDecimalSeparator('.');
  EXPECT_EQ(FloatToStr(GetParam().value), GetParam().point);
  SetDecimalSeparator(',');
  EXPECT_EQ(FloatToStr(GetParam().value), GetParam().comma);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FloatToStrTest,
    ::testing::Values(FloatRow{0.0, "0", "0"}, FloatRow{-0.0, "0", "0"}, FloatRow{1.0, "1", "1"},
                      FloatRow{100.0, "100", "100"}, FloatRow{-1.5, "-1.5", "-1,5"}, FloatRow{12.5, "12.5", "12,5"},
                      FloatRow{3.3, "3.3", "3,3"}, FloatRow{0.1 + 0.2, "0.3", "0,3"},
                      FloatRow{1.0 / 3.0, "0.333333333333333", "0,333333333333333"},
                      FloatRow{2.0 / 3.0, "0.666666666666667", "0,666666666666667"},
                      FloatRow{static_cast<double>(1.6F), "1.60000002384186", "1,60000002384186"},
                      FloatRow{123456789012345.0, "123456789012345", "123456789012345"},
                      FloatRow{1e15, "1E15", "1E15"}, FloatRow{1.5e20, "1.5E20", "1,5E20"},
                      FloatRow{0.00001, "0.00001", "0,00001"}, FloatRow{1.2345e-6, "1.2345E-6", "1,2345E-6"},
                      FloatRow{-2.5e-7, "-2.5E-7", "-2,5E-7"}, FloatRow{9.999999999999999e14, "1E15", "1E15"},
                      FloatRow{std::nan(""), "NAN", "NAN"},
                      FloatRow{std::numeric_limits<double>::infinity(), "INF", "INF"},
                      FloatRow{-std::numeric_limits<double>::infinity(), "-INF", "-INF"}));

struct DirRow {
  std::string fileName;
  std::string directory;
};

class ExtractFileDirTest : public ::testing::TestWithParam<DirRow> {};

TEST_P(ExtractFileDirTest, CutsAtTheLastSeparator) {
  EXPECT_EQ(ExtractFileDir(GetParam().fileName), GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(Paths, ExtractFileDirTest,
                         ::testing::Values(DirRow{"/usr/bin/kelvari", "/usr/bin"}, DirRow{"/kelvari", "/"},
                                           DirRow{"/", "/"}, DirRow{"kelvari", ""}, DirRow{"", ""},
                                           DirRow{"/usr/bin/", "/usr/bin"}, DirRow{"a/b", "a"},
                                           DirRow{"//kelvari", "//"}, DirRow{"/opt//kelvari", "/opt//"}));

TEST(ParamStrTest, IndexZeroIsTheFullPathOfThisExecutable) {
  const std::filesystem::path self(ParamStr(0));
  EXPECT_TRUE(self.is_absolute());
  EXPECT_EQ(self.filename(), "toolkit_test");
  EXPECT_TRUE(std::filesystem::is_regular_file(self));
}

TEST(ParamStrTest, LaterIndexesAreTheArgumentsAndOutOfRangeIsEmpty) {
  const std::vector<std::string> arguments = ::testing::internal::GetArgvs();
  for (std::size_t i = 1; i < arguments.size(); ++i) EXPECT_EQ(ParamStr(static_cast<int>(i)), arguments[i]);
  EXPECT_EQ(ParamStr(static_cast<int>(arguments.size())), "");
  EXPECT_EQ(ParamStr(-1), "");
}

}  // namespace
