// The display operations as byte streams: positions and their arithmetic (negative, wrapped
// and overflowing values), text codes, display-mode bytes, the clears and the demonstrations.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "app/lcd_operations.h"
#include "port_trace.h"

namespace kelvari::test {
namespace {

using Lcd = LcdOperations<RecordingPort>;

std::vector<WireByte> bytesOf(const std::function<void(Lcd&)>& operation) {
  RecordingPort port;
  Lcd lcd(port);
  operation(lcd);
  DecodedTrace decoded = decode(port.trace);
  EXPECT_EQ(decoded.error, "");
  EXPECT_FALSE(decoded.endsInAbandonedWait);
  return decoded.bytes;
}

std::string transcriptOf(const std::function<void(Lcd&)>& operation) { return transcript(bytesOf(operation)); }

struct StreamCase {
  const char* name;
  std::function<void(Lcd&)> operation;
  const char* expected;
};

class LcdByteStream : public testing::TestWithParam<StreamCase> {};

TEST_P(LcdByteStream, SendsExactlyTheseBytes) { EXPECT_EQ(transcriptOf(GetParam().operation), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Positions, LcdByteStream,
    testing::Values(
        StreamCase{"AddressOfLastTextCell", [](Lcd& l) { l.LcdSetAddress(39, 7); }, "D3F D01 C24"},
        StreamCase{"AddressColumn40IsNextRow", [](Lcd& l) { l.LcdSetAddress(40, 0); }, "D28 D00 C24"},
        StreamCase{"AddressNextRow", [](Lcd& l) { l.LcdSetAddress(0, 1); }, "D28 D00 C24"},
        StreamCase{"AddressNegativeRow", [](Lcd& l) { l.LcdSetAddress(0, -1); }, "DD8 DFF C24"},
        StreamCase{"AddressNegativeColumn", [](Lcd& l) { l.LcdSetAddress(-1, 0); }, "DFF DFF C24"},
        StreamCase{"AddressBeyondSixteenBits", [](Lcd& l) { l.LcdSetAddress(5, 2000); }, "D85 D38 C24"},
        StreamCase{"AddressOverflowWraps", [](Lcd& l) { l.LcdSetAddress(INT_MAX, 1); }, "D27 D00 C24"},
        StreamCase{"AddressOverflowingRow", [](Lcd& l) { l.LcdSetAddress(0, INT_MIN); }, "D00 D00 C24"},
        StreamCase{"CursorLowBytes", [](Lcd& l) { l.LcdSetCursor(300, 2); }, "D2C D02 C21"},
        StreamCase{"CursorNegative", [](Lcd& l) { l.LcdSetCursor(-1, -256); }, "DFF D00 C21"},
        StreamCase{"PixelOrigin", [](Lcd& l) { l.LcdSetPixel(0, 0); }, "D00 D02 C24 CFD"},
        StreamCase{"PixelLastOnScreen", [](Lcd& l) { l.LcdSetPixel(239, 63); }, "DFF D0B C24 CF8"},
        StreamCase{"PixelPastRightEdgeWrapsToNextRow", [](Lcd& l) { l.LcdSetPixel(240, 0); }, "D28 D02 C24 CFD"},
        StreamCase{"PixelRowOneStart", [](Lcd& l) { l.LcdSetPixel(0, 1); }, "D28 D02 C24 CFD"},
        StreamCase{"PixelMiddleOfByte", [](Lcd& l) { l.LcdSetPixel(8, 0); }, "D01 D02 C24 CFB"},
        StreamCase{"PixelNegativeXTruncatesTowardZero", [](Lcd& l) { l.LcdSetPixel(-1, 0); }, "D00 D02 C24 CFE"},
        StreamCase{"PixelNegativeXNextByteDown", [](Lcd& l) { l.LcdSetPixel(-7, 0); }, "DFF D01 C24 CFE"},
        StreamCase{"PixelNegativeRemainderFive", [](Lcd& l) { l.LcdSetPixel(-5, 0); }, "D00 D02 C24 CFA"},
        StreamCase{"PixelNegativeY", [](Lcd& l) { l.LcdSetPixel(0, -13); }, "DF8 DFF C24 CFD"},
        StreamCase{"PixelBelowScreen", [](Lcd& l) { l.LcdSetPixel(6, 64); }, "D01 D0C C24 CFD"},
        StreamCase{"PixelOverflowingY", [](Lcd& l) { l.LcdSetPixel(0, INT_MAX); }, "DD8 D01 C24 CFD"}),
    ByCaseName());

INSTANTIATE_TEST_SUITE_P(
    Text, LcdByteStream,
    testing::Values(
        StreamCase{"EmptyTextSendsNothing", [](Lcd& l) { l.LcdPrintText(""); }, ""},
        StreamCase{"AsciiIsCodeLess32", [](Lcd& l) { l.LcdPrintText(" A~"); }, "D00 CC0 D21 CC0 D5E CC0"},
        StreamCase{"DeleteIsHighestCode", [](Lcd& l) { l.LcdPrintText("\x7F"); }, "D5F CC0"},
        StreamCase{"ControlCharactersPrintBlank", [](Lcd& l) { l.LcdPrintText("\t\x1F!"); }, "D00 CC0 D00 CC0 D01 CC0"},
        StreamCase{"CodesFrom128PrintBlank", [](Lcd& l) { l.LcdPrintText("\x80\xE4\xFF"); },
                   "D00 CC0 D00 CC0 D00 CC0"},
        StreamCase{"StopsAtTheTerminatingZero", [](Lcd& l) { l.LcdPrintText("0\0" "1"); }, "D10 CC0"},
        StreamCase{"PutByteIsFixedCode", [](Lcd& l) { l.LcdPutFixedCharacter(); }, "D6E CC0"}),
    ByCaseName());

struct ModeCase {
  bool blink, cursor, graphics, text;
  std::uint8_t expected;
};

class LcdDisplayMode : public testing::TestWithParam<ModeCase> {};

TEST_P(LcdDisplayMode, CheckBoxCombinationGivesModeByte) {
  const ModeCase& c = GetParam();
  const DisplayLayers layers{.cursorBlink = c.blink, .cursor = c.cursor, .graphics = c.graphics, .text = c.text};
  const auto bytes = bytesOf([&](Lcd& l) { l.LcdSetDisplayMode(layers); });
  ASSERT_EQ(bytes.size(), 1u);
  EXPECT_TRUE(bytes[0].command);
  EXPECT_EQ(bytes[0].value, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllSixteen, LcdDisplayMode,
    testing::Values(ModeCase{false, false, false, false, 0x90}, ModeCase{true, false, false, false, 0x91},
                    ModeCase{false, true, false, false, 0x92}, ModeCase{true, true, false, false, 0x93},
                    ModeCase{false, false, false, true, 0x94}, ModeCase{true, false, false, true, 0x95},
                    ModeCase{false, true, false, true, 0x96}, ModeCase{true, true, false, true, 0x97},
                    ModeCase{false, false, true, false, 0x98}, ModeCase{true, false, true, false, 0x99},
                    ModeCase{false, true, true, false, 0x9A}, ModeCase{true, true, true, false, 0x9B},
                    ModeCase{false, false, true, true, 0x9C}, ModeCase{true, false, true, true, 0x9D},
                    ModeCase{false, true, true, true, 0x9E}, ModeCase{true, true, true, true, 0x9F}));

// Checks a long stream as: a prefix, then `count` repetitions of a unit, then a suffix.
void expectRepeated(const std::vector<WireByte>& bytes, const std::string& prefix, const std::string& unit,
                    std::size_t count) {
  const std::string all = transcript(bytes);
  std::string expected = prefix;
  for (std::size_t i = 0; i < count; ++i) expected += (expected.empty() ? "" : " ") + unit;
  EXPECT_EQ(all, expected);
}

TEST(LcdClears, TextClearBlanksAll320CellsFromTheTextHome) {
  expectRepeated(bytesOf([](Lcd& l) { l.LcdClearText(); }), "D00 D00 C24", "D00 CC0", 320);
}

TEST(LcdClears, GraphicClearZeroesAll2560BytesFromTheGraphicHome) {
  expectRepeated(bytesOf([](Lcd& l) { l.LcdClearGraphics(); }), "D00 D02 C24", "D00 CC0", 2560);
}

TEST(LcdText, FortyOneCharactersAreFortyOneWritesWithoutRepositioning) {
  const std::string text(41, 'x');
  expectRepeated(bytesOf([&](Lcd& l) { l.LcdPrintText(text.c_str()); }), "", "D58 CC0", 41);
}

// The character-set demonstration: clear (643 bytes), mode 0x97, then ten passes of an
// address set (3 bytes) and 320 code/write pairs.
class LcdCharacterSet : public testing::Test {
 protected:
  static void SetUpTestSuite() { bytes_ = bytesOf([](Lcd& l) { l.LcdShowCharacterSet(); }); }
  static constexpr std::size_t ClearBytes = 3 + 2 * 320;
  static constexpr std::size_t PassBytes = 3 + 2 * 320;
  static std::uint8_t codeAt(int pass, int cell) {
    return bytes_[ClearBytes + 1 + static_cast<std::size_t>(pass) * PassBytes + 3 + 2 * static_cast<std::size_t>(cell)]
        .value;
  }
  static inline std::vector<WireByte> bytes_;
};

TEST_F(LcdCharacterSet, ClearsThenShowsTextWithoutGraphicsThenRunsTenPasses) {
  ASSERT_EQ(bytes_.size(), ClearBytes + 1 + 10 * PassBytes);
  std::vector<WireByte> clear(bytes_.begin(), bytes_.begin() + ClearBytes);
  expectRepeated(clear, "D00 D00 C24", "D00 CC0", 320);
  EXPECT_EQ(transcript({bytes_[ClearBytes]}), "C97");
  for (int pass = 0; pass < 10; ++pass) {
    const std::size_t start = ClearBytes + 1 + static_cast<std::size_t>(pass) * PassBytes;
    EXPECT_EQ(transcript({bytes_[start], bytes_[start + 1], bytes_[start + 2]}), "D00 D00 C24") << pass;
    for (std::size_t i = 0; i < 320; ++i) {
      ASSERT_FALSE(bytes_[start + 3 + 2 * i].command);
      ASSERT_EQ(transcript({bytes_[start + 4 + 2 * i]}), "CC0");
    }
  }
}

struct CodeCase {
  int pass, cell;
  std::uint8_t code;
};

class LcdCharacterSetCodes : public LcdCharacterSet, public testing::WithParamInterface<CodeCase> {};

TEST_P(LcdCharacterSetCodes, PassShiftsCodesByOneModulo127) {
  ASSERT_EQ(bytes_.size(), ClearBytes + 1 + 10 * PassBytes);
  EXPECT_EQ(codeAt(GetParam().pass, GetParam().cell), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Offsets, LcdCharacterSetCodes,
                         testing::Values(CodeCase{0, 0, 0}, CodeCase{0, 126, 126}, CodeCase{0, 127, 0},
                                         CodeCase{0, 319, 65}, CodeCase{1, 0, 1}, CodeCase{1, 125, 126},
                                         CodeCase{1, 126, 0}, CodeCase{9, 0, 9}, CodeCase{9, 117, 126},
                                         CodeCase{9, 118, 0}, CodeCase{9, 319, 74}));

// The figures: which pixel operation comes n-th, as the four bytes one pixel costs.
struct PixelOrderCase {
  const char* name;
  std::function<void(Lcd&)> operation;
  std::size_t pixels;
  std::size_t index;
  const char* pixelBytes;
};

class LcdFigureOrder : public testing::TestWithParam<PixelOrderCase> {};

TEST_P(LcdFigureOrder, NthPixelIs) {
  const auto bytes = bytesOf(GetParam().operation);
  ASSERT_EQ(bytes.size(), 4 * GetParam().pixels);
  const std::size_t at = 4 * GetParam().index;
  EXPECT_EQ(transcript({bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]}), GetParam().pixelBytes);
}

const auto square = [](Lcd& l) { l.LcdFillSquare(230, 50); };
const auto stripes = [](Lcd& l) { l.LcdDrawStripePattern(); };

INSTANTIATE_TEST_SUITE_P(
    Figures, LcdFigureOrder,
    testing::Values(
        // Square at (230, 50): column by column, top to bottom, past both screen edges.
        PixelOrderCase{"SquareFirst", square, 900, 0, "DF6 D09 C24 CFB"},
        PixelOrderCase{"SquareSecondIsBelowFirst", square, 900, 1, "D1E D0A C24 CFB"},
        PixelOrderCase{"SquareColumnEndsBelowScreen", square, 900, 29, "D7E D0E C24 CFB"},
        PixelOrderCase{"SquareSecondColumn", square, 900, 30, "DF6 D09 C24 CFA"},
        PixelOrderCase{"SquareColumnPastRightEdge", square, 900, 300, "DF8 D09 C24 CFD"},
        PixelOrderCase{"SquareLast", square, 900, 899, "D83 D0E C24 CFC"},
        // Stripes: even pixels of row 1 left to right, odd pixels of row 3 right to left, ...
        PixelOrderCase{"StripesFirst", stripes, 3840, 0, "D28 D02 C24 CFD"},
        PixelOrderCase{"StripesEndOfRow1", stripes, 3840, 119, "D4F D02 C24 CF9"},
        PixelOrderCase{"StripesStartOfRow3", stripes, 3840, 120, "D9F D02 C24 CF8"},
        PixelOrderCase{"StripesEndOfRow3", stripes, 3840, 239, "D78 D02 C24 CFC"},
        PixelOrderCase{"StripesStartOfRow5", stripes, 3840, 240, "DC8 D02 C24 CFD"},
        PixelOrderCase{"StripesLast", stripes, 3840, 3839, "DD8 D0B C24 CFC"}),
    ByCaseName());

TEST(LcdFigures, SquareNearIntMaxWrapsInsteadOfOverflowing) {
  const auto bytes = bytesOf([](Lcd& l) { l.LcdFillSquare(INT_MAX - 10, INT_MAX - 10); });
  EXPECT_EQ(bytes.size(), 4u * 900u);
}

}  // namespace
}  // namespace kelvari::test
