// lcdview's command line and its one-shot outputs:
//   lcdview [--segment NAME]                      the live window
//   lcdview [--segment NAME] --png FILE [--scale N]  the current frame as PNG, then exit
//   lcdview [--segment NAME] --text               the current frame as text art, then exit
//   lcdview [--segment NAME] --log                the decoded bus trace as text, then exit
//   lcdview [--segment NAME] --vcd FILE           the bus trace as a Value Change Dump, then exit
// One-shot outputs combine; text art comes before the log on standard output. They fail,
// rather than wait, while another process holds the module's state stopped in the middle
// of an update; a PNG is written whole or not at all.
// The segment defaults to DLPORTIO_LCD_SEGMENT, then to the module's per-user name; lcdview
// never creates it. A power cycle from the window fills display memory as
// DLPORTIO_LCD_POWERON says, as in the port library.
#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>
#include <variant>

#include "portlib/settings.h"
#include "t6963/module_state.h"

namespace lcdview {

inline constexpr int DefaultPngScale = 4;

struct ViewerOptions {
  std::string segment;
  t6963::PowerOnContents powerOnContents = t6963::PowerOnContents::Random;
  QString pngFile;  // empty: no PNG
  int scale = DefaultPngScale;
  bool text = false;
  QString vcdFile;  // empty: no waveform
  bool log = false;
  bool help = false;

  bool oneShot() const { return !pngFile.isEmpty() || text || !vcdFile.isEmpty() || log; }
};

class ViewerCommandLine {
 public:
  // The environment gives the defaults of the segment and of the power-on contents.
  explicit ViewerCommandLine(const portlib::Settings& environment);

  // `arguments` starts with the program name. Returns the options, or the message of a
  // usage error. Needs no application object, so one-shot outputs run without a display.
  std::variant<ViewerOptions, QString> parse(const QStringList& arguments);

  // Takes the program name from the application object, which must exist.
  QString helpText() const { return parser_.helpText(); }

 private:
  portlib::Settings environment_;
  QCommandLineParser parser_;
  QCommandLineOption help_;
  QCommandLineOption segment_;
  QCommandLineOption png_;
  QCommandLineOption scale_;
  QCommandLineOption text_;
  QCommandLineOption vcd_;
  QCommandLineOption log_;
};

// "no virtual display /name: start the test bench first, or check DLPORTIO_LCD_SEGMENT"
QString missingModuleText(const std::string& segment);

// The one-shot outputs of `options` for the module's current state: text art and the bus
// log to `out`, the PNG and the VCD to their files. Returns the process exit code;
// failures are explained on `err`, and so is a waveform whose history was cut short.
int writeOneShotOutputs(const ViewerOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lcdview
