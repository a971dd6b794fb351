// Text converted to the Windows ANSI code page, as the display and the player windows take it.
#include <gtest/gtest.h>

#include "winapi/ansi_text.h"

namespace kelvari::test {
namespace {

struct AnsiCase {
  const char* name;
  const char* utf8;
  QByteArray expected;
};

class AnsiText : public testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiText, EncodesAsWindows1252) {
  EXPECT_EQ(winapi::toWindows1252(QString::fromUtf8(GetParam().utf8)).toHex(' '), GetParam().expected.toHex(' '));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AnsiText,
    testing::Values(AnsiCase{"Empty", "", QByteArray()}, AnsiCase{"Ascii", "Set XY", QByteArray("Set XY")},
                    AnsiCase{"InitialText", "Jotain tekstiä", QByteArray("Jotain teksti\xE4")},
                    AnsiCase{"FinnishCapitals", "ÄÖÅ", QByteArray("\xC4\xD6\xC5")},
                    AnsiCase{"EuroSignIsInTheUpperControlRange", "€", QByteArray("\x80")},
                    AnsiCase{"MissingCharacterBecomesQuestionMark", "a中b😀", QByteArray("a?b?")},
                    AnsiCase{"SubstituteCodeOfTheTextStays", "\x1A", QByteArray("\x1A")}),
    [](const testing::TestParamInfo<AnsiCase>& caseInfo) { return std::string(caseInfo.param.name); });

TEST(AnsiText, InitialTextIsFourteenBytesEndingInAUmlaut) {
  const QByteArray bytes = winapi::toWindows1252(QStringLiteral("Jotain tekstiä"));
  ASSERT_EQ(bytes.size(), 14);
  EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 0xE4);
  EXPECT_EQ(bytes.constData()[14], '\0');
}

}  // namespace
}  // namespace kelvari::test
