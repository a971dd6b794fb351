// The main window as its form description builds it: every control with its kind, parent,
// bounds, text, hint and check state; stacking under group boxes; group box captions in
// their frames' top lines with the controls inside the frames; the tab chain in declaration
// order; the window's caption, position, size, font; and the application version.
#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <gtest/gtest.h>

#include <utility>

#include "app/omalcd.h"
#include "gui_support.h"

namespace kelvari::test {
namespace {

enum class Kind { Button, Edit, Label, Check, Group };

struct ControlCase {
  const char* name;
  Kind kind;
  const char* parent;  // "form": the window's client area
  QRect bounds;
  const char* text;
  const char* hint;
};

const ControlCase controls[] = {
    {"Lopeta_Button1", Kind::Button, "form", {8, 8, 49, 25}, "Lopeta", ""},
    {"MBM_Button1", Kind::Button, "form", {72, 8, 81, 25}, "MBM arvot", "MBM arvot LCD:lle"},
    {"GroupBox1", Kind::Group, "form", {8, 40, 145, 89}, "Init", ""},
    {"StartLPTDriver_Button1", Kind::Button, "form", {16, 56, 81, 25}, "StartLPTDriver", "Käynnistää DLPortIO ajurin"},
    {"StartLPTDriver_Edit1", Kind::Edit, "form", {112, 56, 33, 21}, "", ""},
    {"InitLCD_Button1", Kind::Button, "form", {16, 96, 83, 25}, "InitLCD", "Initialisoi LCD kontrollerin"},
    {"InitLCD_Edit1", Kind::Edit, "form", {112, 96, 33, 21}, "", ""},
    {"GroupBox2", Kind::Group, "form", {168, 40, 113, 89}, " Päälle/Pois", ""},
    {"Mode_CheckBox1", Kind::Check, "form", {176, 56, 97, 17}, "Kursori vilkkuu", ""},
    {"Mode_CheckBox2", Kind::Check, "form", {176, 72, 97, 17}, "Kursori", ""},
    {"Mode_CheckBox3", Kind::Check, "form", {176, 88, 97, 17}, "Grafiikka", ""},
    {"Mode_CheckBox4", Kind::Check, "GroupBox2", {8, 64, 97, 17}, "Teksti", ""},
    {"Tekstitoiminnot_GroupBox1", Kind::Group, "form", {8, 136, 241, 193}, "Tekstitoiminnot", ""},
    {"PrintLCDText_Button1", Kind::Button, "form", {16, 160, 81, 25}, "PrintLCDText", "Tulostaa annetun tekstin LCD:lle"},
    {"PrintLCDText_Edit1", Kind::Edit, "form", {104, 160, 137, 21}, "Jotain tekstiä", ""},
    {"SetXY_Edit1", Kind::Edit, "form", {16, 192, 33, 21}, "0", ""},
    {"SetXY_Edit2", Kind::Edit, "form", {56, 192, 33, 21}, "0", ""},
    {"SetXY_Button", Kind::Button, "form", {16, 216, 75, 25}, "Set XY", "Aseta address pointer paikkaan X,Y"},
    {"SetXY_Label1", Kind::Label, "form", {16, 248, 18, 13}, "Rivi", ""},
    {"SetXY_Label2", Kind::Label, "form", {56, 248, 34, 13}, "Sarake", ""},
    {"SetLCDCursor_Edit1", Kind::Edit, "form", {120, 192, 33, 21}, "0", ""},
    {"SetLCDCursor_Edit2", Kind::Edit, "form", {160, 192, 33, 21}, "0", ""},
    {"SetLCDCursor_Button", Kind::Button, "form", {120, 216, 75, 25}, "SetLCDCursor", "Aseta kursori paikkaan X,Y"},
    {"SetLCDCursor_Label1", Kind::Label, "form", {136, 248, 18, 13}, "Rivi", ""},
    {"SetLCDCursor_Label2", Kind::Label, "form", {176, 248, 34, 13}, "Sarake", ""},
    {"PutByte_Button1", Kind::Button, "form", {152, 256, 81, 25}, "Kirjain näytölle", ""},
    {"ClearLCDText_Button1", Kind::Button, "form", {16, 288, 81, 25}, "Clear LCD Text", "Tyhjentää LCD:n merkkimuistin"},
    {"CharGenROM_Button1", Kind::Button, "form", {152, 288, 81, 25}, "CharGenROM",
     "Tulostaa sisäisen merkkigeneraattorin merkit näytölle"},
    {"Grafiikkatoiminnot_GroupBox1", Kind::Group, "form", {296, 40, 209, 153}, "Grafiikkatoiminnot", ""},
    {"SetLCDPixel_Button1", Kind::Button, "form", {304, 64, 97, 25}, "SetLCDPixel X,Y", "Tulostaa annetun pixelin LCD:lle"},
    {"SetLCDPixel_Edit1", Kind::Edit, "form", {408, 64, 33, 21}, "0", ""},
    {"SetLCDPixel_Edit2", Kind::Edit, "form", {448, 64, 33, 21}, "0", ""},
    {"Nelio_Button1", Kind::Button, "form", {304, 104, 81, 25}, "Piirrä neliö", ""},
    {"Nelio_Edit1", Kind::Edit, "Grafiikkatoiminnot_GroupBox1", {96, 64, 41, 21}, "0", ""},
    {"Nelio_Edit2", Kind::Edit, "Grafiikkatoiminnot_GroupBox1", {144, 64, 41, 21}, "0", ""},
    {"Pixels_Button1", Kind::Button, "Grafiikkatoiminnot_GroupBox1", {112, 112, 75, 25}, "Pixels", ""},
    {"ClearLCDGraph_Button1", Kind::Button, "form", {304, 152, 81, 25}, "ClearLCDGraph", "Tyhjentää LCD:n grafiikkamuistin"},
    {"Winamp_GroupBox1", Kind::Group, "form", {296, 224, 329, 105}, "Winamp", ""},
    {"Winamp_Button1", Kind::Button, "form", {304, 256, 75, 25}, "Päivitä", "Winampin tiedot LCD:lle"},
    {"Winamp_Edit2", Kind::Edit, "form", {400, 256, 121, 21}, "", ""},
    {"Winamp_Edit1", Kind::Edit, "form", {304, 288, 225, 21}, "", ""},
    {"Winamp_Edit3", Kind::Edit, "form", {536, 288, 73, 21}, "", ""},
    {"WriteData_Label1", Kind::Label, "form", {16, 344, 48, 13}, "WriteData", ""},
    {"WriteData_Edit1", Kind::Edit, "form", {72, 336, 529, 21},
     "Poissa käytöstä, koska nykyinen toteutus hidastaa aikalailla", ""},
    {"WriteCtrl_Label1", Kind::Label, "form", {16, 368, 40, 13}, "WriteCtrl", ""},
    {"WriteCtrl_Edit1", Kind::Edit, "form", {72, 360, 529, 21}, "Sama kuin yllä", ""},
};

class MainWindowLayout : public testing::Test {
 protected:
  static void SetUpTestSuite() { window_ = new TForm1; }
  static void TearDownTestSuite() {
    delete window_;
    window_ = nullptr;
  }
  static QWidget* control(const char* name) { return window_->findChild<QWidget*>(QString::fromUtf8(name)); }
  static inline TForm1* window_ = nullptr;
};

class MainWindowControl : public MainWindowLayout, public testing::WithParamInterface<ControlCase> {};

QString textOf(QWidget* widget, Kind kind) {
  switch (kind) {
    case Kind::Button:
    case Kind::Check:
      return qobject_cast<QAbstractButton*>(widget)->text();
    case Kind::Edit:
      return qobject_cast<QLineEdit*>(widget)->text();
    case Kind::Label:
      return qobject_cast<QLabel*>(widget)->text();
    case Kind::Group:
      return qobject_cast<QGroupBox*>(widget)->title();
  }
  return {};
}

bool isKind(QWidget* widget, Kind kind) {
  switch (kind) {
    case Kind::Button:
      return qobject_cast<QPushButton*>(widget) != nullptr;
    case Kind::Check:
      return qobject_cast<QCheckBox*>(widget) != nullptr;
    case Kind::Edit:
      return qobject_cast<QLineEdit*>(widget) != nullptr;
    case Kind::Label:
      return qobject_cast<QLabel*>(widget) != nullptr;
    case Kind::Group:
      return qobject_cast<QGroupBox*>(widget) != nullptr;
  }
  return false;
}

TEST_P(MainWindowControl, IsPlacedAndLabelledAsDescribed) {
  const ControlCase& c = GetParam();
  QWidget* widget = control(c.name);
  ASSERT_NE(widget, nullptr);
  ASSERT_TRUE(isKind(widget, c.kind));
  QWidget* expectedParent = std::string(c.parent) == "form" ? window_ : control(c.parent);
  EXPECT_EQ(widget->parentWidget(), expectedParent);
  EXPECT_EQ(widget->geometry(), c.bounds);
  EXPECT_EQ(textOf(widget, c.kind), QString::fromUtf8(c.text));
  EXPECT_EQ(widget->toolTip(), QString::fromUtf8(c.hint));
  if (c.kind == Kind::Check) {
    EXPECT_TRUE(qobject_cast<QCheckBox*>(widget)->isChecked());
  }
}

INSTANTIATE_TEST_SUITE_P(Controls, MainWindowControl, testing::ValuesIn(controls),
                         [](const testing::TestParamInfo<ControlCase>& caseInfo) {
                           return std::string(caseInfo.param.name);
                         });

TEST_F(MainWindowLayout, HasNoControlsBeyondTheDescribedOnes) {
  int described = 0;
  for (QWidget* child : window_->findChildren<QWidget*>()) {
    const bool isControl = isKind(child, Kind::Button) || isKind(child, Kind::Edit) ||
                           isKind(child, Kind::Label) || isKind(child, Kind::Check) || isKind(child, Kind::Group);
    if (isControl && !child->objectName().startsWith("qt_")) ++described;
  }
  EXPECT_EQ(described, static_cast<int>(std::size(controls)));
}

TEST_F(MainWindowLayout, GroupBoxesLieUnderTheControlsPlacedOverThem) {
  const QObjectList& siblings = window_->children();
  int overlaid = 0;
  for (const ControlCase& group : controls) {
    if (group.kind != Kind::Group) continue;
    QWidget* box = control(group.name);
    for (const ControlCase& c : controls) {
      QWidget* widget = control(c.name);
      if (widget == box || widget->parentWidget() != window_ || !group.bounds.contains(c.bounds)) continue;
      ++overlaid;
      EXPECT_GT(siblings.indexOf(widget), siblings.indexOf(box)) << c.name << " is drawn under " << group.name;
    }
  }
  EXPECT_EQ(overlaid, 31);
}

// TForm1's controls in declaration order. Tab positions count the window's own windowed
// controls in this order: a label takes none, a group box takes one, and the controls inside
// a group box are ordered within it (the chain reaches them at the group box's position).
const char* const declarationOrder[] = {
    "Lopeta_Button1",      "StartLPTDriver_Button1", "PutByte_Button1",      "WriteData_Label1",
    "WriteData_Edit1",     "WriteCtrl_Label1",       "WriteCtrl_Edit1",      "InitLCD_Button1",
    "StartLPTDriver_Edit1", "InitLCD_Edit1",         "SetXY_Edit1",          "SetXY_Button",
    "SetXY_Edit2",         "SetXY_Label1",           "SetXY_Label2",         "SetLCDCursor_Button",
    "ClearLCDText_Button1", "ClearLCDGraph_Button1", "PrintLCDText_Button1", "PrintLCDText_Edit1",
    "SetLCDPixel_Button1", "SetLCDPixel_Edit1",      "SetLCDCursor_Edit1",   "SetLCDCursor_Edit2",
    "SetLCDCursor_Label1", "SetLCDCursor_Label2",    "GroupBox1",            "CharGenROM_Button1",
    "MBM_Button1",         "Winamp_Button1",         "Winamp_Edit1",         "Winamp_Edit2",
    "Winamp_Edit3",        "Mode_CheckBox1",         "Mode_CheckBox2",       "Mode_CheckBox3",
    "GroupBox2",           "SetLCDPixel_Edit2",      "Mode_CheckBox4",       "Nelio_Button1",
    "Tekstitoiminnot_GroupBox1", "Grafiikkatoiminnot_GroupBox1", "Winamp_GroupBox1", "Nelio_Edit1",
    "Nelio_Edit2",         "Pixels_Button1",
};

TEST_F(MainWindowLayout, TabChainFollowsTheDeclarationOrder) {
  QStringList positions;  // the window's own windowed controls, by tab position
  QStringList expected;   // the controls that take the focus, in tab order
  for (const char* name : declarationOrder) {
    QWidget* widget = control(name);
    ASSERT_NE(widget, nullptr) << name;
    if (widget->parentWidget() != window_ || isKind(widget, Kind::Label)) continue;
    positions << name;
    if (!isKind(widget, Kind::Group)) {
      expected << name;
      continue;
    }
    for (const char* inner : declarationOrder) {
      if (control(inner)->parentWidget() == widget) expected << inner;
    }
  }
  const std::pair<const char*, int> givenPositions[] = {
      {"Winamp_Button1", 23}, {"Winamp_Edit1", 24},     {"Winamp_Edit2", 25},
      {"Winamp_Edit3", 26},   {"Winamp_GroupBox1", 35},
  };
  for (const auto& [name, position] : givenPositions) EXPECT_EQ(positions.indexOf(name), position) << name;

  QStringList focusable;
  for (const ControlCase& c : controls) {
    if (c.kind != Kind::Label && c.kind != Kind::Group) focusable << QString::fromUtf8(c.name);
  }
  ASSERT_EQ(QSet<QString>(expected.begin(), expected.end()), QSet<QString>(focusable.begin(), focusable.end()));

  QStringList chain;
  QWidget* first = control(declarationOrder[0]);
  QWidget* widget = first;
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && expected.contains(widget->objectName())) {
      chain << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != first && chain.size() <= expected.size());
  EXPECT_EQ(chain.join(" ").toStdString(), expected.join(" ").toStdString());
}

TEST_F(MainWindowLayout, WindowHasCaptionPositionRoomAndSmallSansFont) {
  EXPECT_EQ(window_->windowTitle(), "Kelvari v. 0.04");
  EXPECT_EQ(window_->pos(), QPoint(300, 112));
  QRect used;
  for (const ControlCase& c : controls) {
    if (std::string(c.parent) == "form") used |= c.bounds;
  }
  EXPECT_TRUE(window_->rect().contains(used)) << "client area too small";
  EXPECT_LE(window_->width(), 667);
  EXPECT_LE(window_->height(), 424);
  EXPECT_EQ(window_->font().pointSize(), 8);
}

// A group box's frame and caption as its style places them, in the window's coordinates.
struct GroupBoxParts {
  QRect frame;
  QRect caption;
};

GroupBoxParts partsOf(QGroupBox* box, QWidget* window) {
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.text = box->title();
  option.textAlignment = box->alignment();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QPoint origin = box->mapTo(window, QPoint(0, 0));
  const auto part = [&](QStyle::SubControl which) {
    return box->style()->subControlRect(QStyle::CC_GroupBox, &option, which, box).translated(origin);
  };
  return {part(QStyle::SC_GroupBoxFrame), part(QStyle::SC_GroupBoxLabel)};
}

TEST_F(MainWindowLayout, GroupBoxCaptionsSitInTheFramesTopLineWithTheirControlsInsideTheFrame) {
  window_->ensurePolished();
  int inside = 0;
  for (const ControlCase& group : controls) {
    if (group.kind != Kind::Group) continue;
    auto* box = qobject_cast<QGroupBox*>(control(group.name));
    box->ensurePolished();
    const GroupBoxParts parts = partsOf(box, window_);
    EXPECT_LT(parts.caption.top(), parts.frame.top()) << group.name;
    EXPECT_GT(parts.caption.bottom(), parts.frame.top()) << group.name;
    for (const ControlCase& c : controls) {
      QWidget* widget = control(c.name);
      const QRect bounds(widget->mapTo(window_, QPoint(0, 0)), widget->size());
      if (widget == box || (widget->parentWidget() != box && !group.bounds.contains(bounds))) continue;
      ++inside;
      EXPECT_TRUE(parts.frame.adjusted(1, 1, -1, -1).contains(bounds)) << c.name << " outside the frame of " << group.name;
    }
  }
  EXPECT_EQ(inside, 35);
  for (const ControlCase& c : controls) {
    EXPECT_EQ(control(c.name)->font().toString(), window_->font().toString()) << c.name;
  }
}

TEST_F(MainWindowLayout, ApplicationVersionIsTheProjectVersion) {
  EXPECT_EQ(QApplication::applicationVersion(), "0.0.4.0");
}

}  // namespace
}  // namespace kelvari::test
