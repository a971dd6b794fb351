// The renderer: golden frames of text, graphics, the combine modes, attribute mode, the
// cursor and CG RAM glyphs, the addressing rules behind them, and other builds' glass and font. Scenes are set straight in
// a ModuleState: the renderer reads memory and registers only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "golden.h"
#include "bench_protocol.h"
#include "t6963/character_rom.h"
#include "t6963/controller.h"
#include "t6963/renderer.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

using namespace t6963c;
using testing::matchesGolden;

constexpr std::uint16_t TextHome = 0x0000;
constexpr std::uint16_t GraphicHome = 0x0200;

constexpr std::uint8_t TextOnly = cmd::DisplayMode | cmd::DisplayTextOn;
constexpr std::uint8_t GraphicOnly = cmd::DisplayMode | cmd::DisplayGraphicOn;
constexpr std::uint8_t TextAndGraphic = TextOnly | GraphicOnly;

// The test bench's memory map: text at 0x0000 and graphics at 0x0200, 40 bytes a row.
ModuleState scene(std::uint8_t mode, std::uint8_t display) {
  ModuleState state;
  powerOn(state, PowerOnContents::Zero, 0, 0);
  ControllerRegisters& c = state.controller;
  c.textHome = TextHome;
  c.textArea = Columns;
  c.graphicHome = GraphicHome;
  c.graphicArea = Columns;
  c.modeSet = mode;
  c.displayMode = display;
  return state;
}

void putText(ModuleState& state, int column, int row, std::string_view text) {
  for (char ch : text) {
    state.ram[static_cast<std::size_t>(TextHome + row * Columns + column++)] = static_cast<std::uint8_t>(ch - 0x20);
  }
}

void setPixel(ModuleState& state, int x, int y) {
  state.ram[static_cast<std::size_t>(GraphicHome + y * Columns + x / FontWidth)] |=
      static_cast<std::uint8_t>(1U << (LeftmostPixelBit - x % FontWidth));
}

void fillRect(ModuleState& state, int x0, int y0, int x1, int y1) {
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) setPixel(state, x, y);
}

int litPixels(const Frame& frame) { return static_cast<int>(std::count(frame.pixels.begin(), frame.pixels.end(), 1)); }

// --- Golden frames -----------------------------------------------------------------------

TEST(RendererGolden, CharacterSet) {
  ModuleState state = scene(cmd::ModeSet, TextOnly);
  for (int code = 0; code < RomGlyphCount; ++code) {
    state.ram[static_cast<std::size_t>(TextHome + (code / 32) * 2 * Columns + code % 32)] = static_cast<std::uint8_t>(code);
  }
  EXPECT_TRUE(matchesGolden("character_set.txt", frameToText(render(state, true))));
}

TEST(RendererGolden, Text) {
  ModuleState state = scene(cmd::ModeSet, TextOnly);
  putText(state, 0, 0, "Kelvari v. 0.04");
  putText(state, 0, 3, "The quick brown fox jumps over the lazy");
  putText(state, 0, 4, "DOG? {0123456789} <a+b=c> [x*y/z] ~|_^$%");
  putText(state, 39, 7, "#");
  EXPECT_TRUE(matchesGolden("text.txt", frameToText(render(state, true))));
}

TEST(RendererGolden, Graphics) {
  ModuleState state = scene(cmd::ModeSet, GraphicOnly);
  for (int x = 0; x < Width; ++x) {
    setPixel(state, x, 0);
    setPixel(state, x, Height - 1);
    setPixel(state, x, x / 4 + 2 < Height - 1 ? x / 4 + 2 : Height - 2);
  }
  for (int y = 0; y < Height; ++y) {
    setPixel(state, 0, y);
    setPixel(state, Width - 1, y);
  }
  state.ram[GraphicHome + 30 * Columns + 20] |= 0xC0;  // bits 7 and 6 are not shown
  putText(state, 0, 2, "text is off");
  EXPECT_TRUE(matchesGolden("graphics.txt", frameToText(render(state, true))));
}

struct CombineCase {
  const char* name;
  std::uint8_t mode;
  const char* golden;
};
void PrintTo(const CombineCase& c, std::ostream* out) { *out << c.name; }

class RendererCombine : public ::testing::TestWithParam<CombineCase> {};

// "MODE" in cells 2..5 of text row 1, and a block from x 15 to 29, y 6 to 13 across it.
TEST_P(RendererCombine, GoldenFrame) {
  ModuleState state = scene(GetParam().mode, TextAndGraphic);
  putText(state, 2, 1, "MODE");
  fillRect(state, 15, 6, 29, 13);
  EXPECT_TRUE(matchesGolden(GetParam().golden, frameToText(render(state, true))));
}

INSTANTIATE_TEST_SUITE_P(Renderer, RendererCombine,
                         ::testing::Values(CombineCase{"Or", cmd::ModeSet | cmd::ModeOr, "combine_or.txt"},
                                           CombineCase{"Exor", cmd::ModeSet | cmd::ModeExor, "combine_exor.txt"},
                                           CombineCase{"And", cmd::ModeSet | cmd::ModeAnd, "combine_and.txt"},
                                           CombineCase{"UndefinedCodeActsAsOr", cmd::ModeSet | 0x02,
                                                       "combine_or.txt"},
                                           CombineCase{"ExternalCgKeepsTheCombine",
                                                       cmd::ModeSet | cmd::ModeExternalCg | cmd::ModeExor,
                                                       "combine_exor_external_cg_blank.txt"}),
                         [](const ::testing::TestParamInfo<CombineCase>& i) { return std::string(i.param.name); });

// Attribute cells on text row 1, the attribute bytes at the graphic home.
ModuleState attributeScene() {
  ModuleState state = scene(cmd::ModeSet | cmd::ModeTextAttribute, TextAndGraphic);
  struct Word {
    int column;
    const char* text;
    std::uint8_t attribute;
  };
  for (const Word& w : {Word{0, "Normal", attr::Normal}, Word{7, "Reverse", attr::Reverse},
                        Word{15, "Inhibit", attr::Inhibit}, Word{23, "Blink", attr::Blink},
                        Word{29, "RevBlink", attr::Reverse | attr::Blink}}) {
    putText(state, w.column, 1, w.text);
    for (int i = 0; w.text[i] != '\0'; ++i) {
      state.ram[static_cast<std::size_t>(GraphicHome + 1 * Columns + w.column + i)] = w.attribute;
    }
  }
  return state;
}

TEST(RendererGolden, TextAttributes) {
  const ModuleState state = attributeScene();
  EXPECT_TRUE(matchesGolden("attributes_blink_on.txt", frameToText(render(state, true))));
  EXPECT_TRUE(matchesGolden("attributes_blink_off.txt", frameToText(render(state, false))));
}

TEST(RendererGolden, Cursor) {
  ModuleState state = scene(cmd::ModeSet, TextOnly | cmd::DisplayCursorOn);
  putText(state, 0, 2, "Cursor:");
  state.controller.cursorX = 7;
  state.controller.cursorY = 2;
  state.controller.cursorLines = 3;
  EXPECT_TRUE(matchesGolden("cursor_three_lines.txt", frameToText(render(state, true))));
  state.controller.cursorX = 0;
  state.controller.cursorLines = 8;
  EXPECT_TRUE(matchesGolden("cursor_block_over_text.txt", frameToText(render(state, true))));
}

// Internal CG: code 0x80 and 0x81 from CG RAM block 2 (0x1400). External CG: code 0x21,
// 'A' in the ROM, from CG RAM block 3 (0x1800 + 0x21 * 8).
TEST(RendererGolden, CgRamGlyphs) {
  constexpr std::array<std::uint8_t, 8> Smiley = {0x1C, 0x22, 0x36, 0x22, 0x2A, 0x36, 0x1C, 0x00};
  constexpr std::array<std::uint8_t, 8> Checker = {0x2A, 0x15, 0x2A, 0x15, 0x2A, 0x15, 0x2A, 0x15};
  ModuleState state = scene(cmd::ModeSet, TextOnly);
  state.controller.offset = 2;
  std::copy(Smiley.begin(), Smiley.end(), state.ram.begin() + 0x1400);
  std::copy(Checker.begin(), Checker.end(), state.ram.begin() + 0x1408);
  putText(state, 0, 0, "A");
  state.ram[TextHome + 1] = 0x80;
  state.ram[TextHome + 2] = 0x81;
  state.ram[TextHome + 3] = 0x80;
  EXPECT_TRUE(matchesGolden("cg_ram_internal.txt", frameToText(render(state, true))));

  state.controller.modeSet = cmd::ModeSet | cmd::ModeExternalCg;
  state.controller.offset = 3;
  std::copy(Checker.begin(), Checker.end(), state.ram.begin() + 0x1800 + 0x21 * 8);
  std::copy(Smiley.begin(), Smiley.end(), state.ram.begin() + 0x1800 + 0x80 * 8);
  EXPECT_TRUE(matchesGolden("cg_ram_external.txt", frameToText(render(state, true))));
}

// --- Addressing and layers ---------------------------------------------------------------

struct CgAddressCase {
  bool external;
  std::uint8_t offset;
  std::uint8_t code;
  unsigned address;
};
void PrintTo(const CgAddressCase& c, std::ostream* out) {
  *out << (c.external ? "external" : "internal") << " offset " << int{c.offset} << " code " << int{c.code};
}

class CgAddress : public ::testing::TestWithParam<CgAddressCase> {};

TEST_P(CgAddress, GlyphRowsComeFromOffsetCodeAndRow) {
  const CgAddressCase& c = GetParam();
  ModuleState state = scene(cmd::ModeSet | (c.external ? cmd::ModeExternalCg : 0), TextOnly);
  state.controller.offset = c.offset;
  state.ram[TextHome] = c.code;
  for (unsigned row = 0; row < 8; ++row) state.ram[c.address + row] = static_cast<std::uint8_t>(0xC0 | (1U << (row % 6)));
  const Frame frame = render(state, true);
  for (int row = 0; row < FontHeight; ++row) {
    for (int x = 0; x < FontWidth; ++x) {
      const bool expected = x == LeftmostPixelBit - row % 6;
      EXPECT_EQ(frame.at(x, row), expected ? 1 : 0) << "row " << row << " x " << x;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Renderer, CgAddress,
                         ::testing::Values(CgAddressCase{false, 0x02, 0x80, 0x1400},
                                           CgAddressCase{false, 0x00, 0x80, 0x0400},
                                           CgAddressCase{false, 0x1F, 0xFF, 0x1FF8},
                                           CgAddressCase{true, 0x01, 0x00, 0x0800},
                                           CgAddressCase{true, 0x00, 0x41, 0x0208},
                                           CgAddressCase{true, 0x05, 0x7F, 0x0BF8}));

TEST(Renderer, InternalCgTakesCodesBelow0x80FromTheRom) {
  ModuleState state = scene(cmd::ModeSet, TextOnly);
  state.ram.fill(0xFF);
  state.ram[TextHome] = 0x21;
  const Frame frame = render(state, true);
  for (int row = 0; row < FontHeight; ++row) {
    for (int x = 0; x < FontWidth; ++x) {
      EXPECT_EQ(frame.at(x, row), (romGlyph(0x21)[static_cast<std::size_t>(row)] >> (LeftmostPixelBit - x)) & 1);
    }
  }
}

struct CursorCase {
  std::uint8_t lines;
  bool blinking;
  bool phaseOn;
  bool shown;
};
void PrintTo(const CursorCase& c, std::ostream* out) {
  *out << int{c.lines} << " lines" << (c.blinking ? ", blinking" : "") << (c.phaseOn ? ", phase on" : ", phase off");
}

class CursorPattern : public ::testing::TestWithParam<CursorCase> {};

TEST_P(CursorPattern, DarkensItsLinesFromTheBottomOfTheCell) {
  const CursorCase& c = GetParam();
  ModuleState state = scene(cmd::ModeSet, TextOnly | cmd::DisplayCursorOn | (c.blinking ? cmd::DisplayCursorBlink : 0));
  putText(state, 4, 5, "o");
  state.controller.cursorX = 4;
  state.controller.cursorY = 5;
  state.controller.cursorLines = c.lines;
  const Frame withCursor = render(state, c.phaseOn);
  state.controller.displayMode = TextOnly;
  const Frame without = render(state, c.phaseOn);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const bool inCell = x / FontWidth == 4 && y / FontHeight == 5;
      const bool cursorLine = inCell && y % FontHeight >= FontHeight - c.lines;
      const std::uint8_t expected = c.shown && cursorLine ? 1 : without.at(x, y);
      ASSERT_EQ(withCursor.at(x, y), expected) << "x " << x << " y " << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Renderer, CursorPattern,
                         ::testing::Values(CursorCase{1, false, true, true}, CursorCase{2, false, true, true},
                                           CursorCase{3, false, false, true}, CursorCase{5, false, true, true},
                                           CursorCase{8, false, true, true}, CursorCase{8, true, true, true},
                                           CursorCase{8, true, false, false}, CursorCase{1, true, false, false}));

TEST(Renderer, CursorShowsWithTextAndGraphicsOff) {
  ModuleState state = scene(cmd::ModeSet, cmd::DisplayMode | cmd::DisplayCursorOn);
  putText(state, 0, 0, "A");
  state.controller.cursorLines = 2;
  EXPECT_EQ(litPixels(render(state, true)), 2 * FontWidth);
}

TEST(Renderer, CursorOutsideTheScreenIsNotDrawn) {
  ModuleState state = scene(cmd::ModeSet, TextOnly | cmd::DisplayCursorOn);
  state.controller.cursorLines = 8;
  for (auto [x, y] : {std::pair{40, 0}, std::pair{0, 8}, std::pair{127, 31}}) {
    state.controller.cursorX = static_cast<std::uint8_t>(x);
    state.controller.cursorY = static_cast<std::uint8_t>(y);
    EXPECT_EQ(litPixels(render(state, true)), 0) << x << "," << y;
  }
}

struct LayerCase {
  const char* name;
  std::uint8_t display;
  bool textShown;
  bool graphicShown;
};
void PrintTo(const LayerCase& c, std::ostream* out) { *out << c.name; }

class Layers : public ::testing::TestWithParam<LayerCase> {};

// Text "A" in cell (0, 0); a graphic block in cell (1, 0), over random other memory.
TEST_P(Layers, DisplayModeBitsSwitchTextAndGraphics) {
  const LayerCase& c = GetParam();
  for (std::uint8_t mode : {cmd::ModeOr, cmd::ModeExor, cmd::ModeAnd}) {
    ModuleState state = scene(cmd::ModeSet | mode, c.display);
    putText(state, 0, 0, "A");
    fillRect(state, 6, 0, 11, 7);
    const Frame frame = render(state, true);
    int textPixels = 0;
    int graphicPixels = 0;
    for (int y = 0; y < FontHeight; ++y) {
      for (int x = 0; x < FontWidth; ++x) {
        textPixels += frame.at(x, y);
        graphicPixels += frame.at(x + FontWidth, y);
      }
    }
    EXPECT_EQ(textPixels, c.textShown ? 18 : 0) << "mode " << int{mode};
    EXPECT_EQ(graphicPixels, c.graphicShown ? 48 : 0) << "mode " << int{mode};
    EXPECT_EQ(litPixels(frame), (c.textShown ? 18 : 0) + (c.graphicShown ? 48 : 0));
  }
}

INSTANTIATE_TEST_SUITE_P(Renderer, Layers,
                         ::testing::Values(LayerCase{"Off", cmd::DisplayMode, false, false},
                                           LayerCase{"Text", TextOnly, true, false},
                                           LayerCase{"Graphic", GraphicOnly, false, true}),
                         [](const ::testing::TestParamInfo<LayerCase>& i) { return std::string(i.param.name); });

TEST(Renderer, AttributesNeedTheGraphicLayer) {
  ModuleState state = attributeScene();
  state.controller.displayMode = TextOnly;
  ModuleState plain = scene(cmd::ModeSet, TextOnly);
  std::copy(state.ram.begin(), state.ram.begin() + GraphicHome, plain.ram.begin());
  EXPECT_EQ(render(state, false).pixels, render(plain, false).pixels);
  state.controller.displayMode = GraphicOnly;
  EXPECT_EQ(litPixels(render(state, true)), 0) << "graphics are not shown in attribute mode";
}

TEST(Renderer, TextAddressesFollowHomeAndAreaAndWrap) {
  ModuleState state = scene(cmd::ModeSet, TextOnly);
  state.controller.textArea = 41;
  state.controller.textHome = 0x1FF0;
  state.ram[0x1FF0] = 0x21;                       // cell (0, 0)
  state.ram[(0x1FF0 + 41 + 2) & 0x1FFF] = 0x21;  // cell (2, 1), past the wrap
  const Frame frame = render(state, true);
  EXPECT_EQ(frame.at(1, 0), 1);
  EXPECT_EQ(frame.at(2 * FontWidth + 1, FontHeight), 1);
  EXPECT_EQ(litPixels(frame), 2 * 18);
}

TEST(Renderer, GraphicAddressesFollowHomeAndAreaAndWrap) {
  ModuleState state = scene(cmd::ModeSet, GraphicOnly);
  state.controller.graphicArea = 30;
  state.controller.graphicHome = 0x1FFE;
  state.ram[0x1FFE] = 0x20;                       // x 0, y 0
  state.ram[(0x1FFE + 30 * 10 + 3) & 0x1FFF] = 0x01;  // x 23, y 10, past the wrap
  const Frame frame = render(state, true);
  EXPECT_EQ(frame.at(0, 0), 1);
  EXPECT_EQ(frame.at(23, 10), 1);
  EXPECT_EQ(frame.at(33 * FontWidth + 5, 9), 1) << "a 30-byte row shows the next row's bytes in columns 30..39";
  EXPECT_EQ(litPixels(frame), 3);
}

TEST(Renderer, HasNoSideEffects) {
  ModuleState state;
  powerOn(state, PowerOnContents::Random, 42, 0);
  state.controller = scene(cmd::ModeSet | cmd::ModeTextAttribute, 0x9F).controller;
  const ModuleState before = state;
  (void)render(state, false);
  (void)displayedByte(state, 39, 63, true);
  EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
}

TEST(Renderer, FrameToTextIsOneLinePerPixelRow) {
  Frame frame;
  frame.pixels[0] = 1;
  frame.pixels[Width * Height - 1] = 1;
  const std::string text = frameToText(frame);
  ASSERT_EQ(text.size(), static_cast<std::size_t>((Width + 1) * Height));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), Height);
  EXPECT_EQ(std::count(text.begin(), text.end(), '#'), 2);
  EXPECT_EQ(text.front(), '#');
  EXPECT_EQ(text[text.size() - 2], '#');
  EXPECT_EQ(text[Width], '\n');
}

struct BuildCase {
  const char* name;
  int width, height, font;
};
void PrintTo(const BuildCase& c, std::ostream* out) { *out << c.name; }

class OnAnyBuild : public ::testing::TestWithParam<BuildCase> {};

// Text 'A' in cell (0, 0), the cursor's block in cell (2, 0), a full graphic byte in column 1
// of row 10 and in the last displayed column of row 20 (rows two bytes longer than the glass
// shows); then a screen peek at the last displayed column and one past it.
TEST_P(OnAnyBuild, CellsAndGraphicBytesAreAsWideAsTheFontAndTheGlassCutsTheLastOne) {
  const BuildCase& row = GetParam();
  ModuleState state = scene(cmd::ModeSet, TextAndGraphic | cmd::DisplayCursorOn);
  state.build.width = static_cast<std::uint16_t>(row.width);
  state.build.height = static_cast<std::uint16_t>(row.height);
  state.build.fontWidth = static_cast<std::uint8_t>(row.font);
  state.build.ramBytes = MaxRamBytes;
  const int columns = state.build.displayedColumns();
  ControllerRegisters& c = state.controller;
  const int area = columns + 2;
  c.textArea = c.graphicArea = static_cast<std::uint8_t>(area);
  c.graphicHome = 0x4000;
  c.cursorX = 2;
  c.cursorY = 0;
  c.cursorLines = 8;
  state.ram[TextHome] = 'A' - 0x20;
  state.ram[static_cast<std::size_t>(c.graphicHome + 10 * area + 1)] = 0xFF;
  state.ram[static_cast<std::size_t>(c.graphicHome + 20 * area + columns - 1)] = 0xFF;

  const Frame frame = render(state, true);
  ASSERT_EQ(frame.width, row.width);
  ASSERT_EQ(frame.height, row.height);
  const auto& glyph = romGlyph('A' - 0x20);
  for (int y = 0; y < FontHeight; ++y) {
    for (int x = 0; x < row.font; ++x) {
      const int dot = x < 5 ? (glyph[static_cast<std::size_t>(y)] >> (5 - x)) & 1 : 0;
      ASSERT_EQ(frame.at(x, y), dot) << "the ROM's five dots stand at the cell's left, at " << x << "," << y;
    }
  }
  const auto litIn = [&](int y, int from, int to) {
    int lit = 0;
    for (int x = from; x < to; ++x) lit += frame.at(x, y);
    return lit;
  };
  EXPECT_EQ(litIn(10, 0, row.width), row.font) << "a graphic byte shows the font's width of bits";
  EXPECT_EQ(litIn(10, row.font, 2 * row.font), row.font);
  EXPECT_EQ(litIn(20, 0, row.width), row.width - (columns - 1) * row.font) << "the glass ends inside the last byte";
  EXPECT_EQ(litIn(0, 2 * row.font, row.width), row.font) << "the cursor covers its cell";

  testing::StoppedControllerClock clock;
  const auto peekAt = [&](int column) {
    state.bus.accessCount += DefaultBusyAccesses + 1;  // past the busy time of the command before
    c.addressPointer = static_cast<std::uint16_t>(c.graphicHome + 20 * area + column);
    writeCycle(state, true, cmd::ScreenPeek, false, clock);
    return std::pair{c.peekCopyError, c.readLatch};
  };
  EXPECT_EQ(peekAt(columns - 1), std::pair(std::uint8_t{0}, state.build.pixelMask()));
  EXPECT_EQ(peekAt(columns).first, 1) << "a column beyond the glass is outside the displayed area";
}

INSTANTIATE_TEST_SUITE_P(Builds, OnAnyBuild,
                         ::testing::Values(BuildCase{"Standard240x64Font6", 240, 64, 6},
                                           BuildCase{"Wide240x128Font8", 240, 128, 8},
                                           BuildCase{"Small128x64Font5", 128, 64, 5},
                                           BuildCase{"Odd100x32Font7", 100, 32, 7},
                                           BuildCase{"Largest640x256Font8", 640, 256, 8}),
                         [](const auto& build) { return std::string(build.param.name); });

}  // namespace
}  // namespace t6963
