// lcdview's command line and its two one-shot outputs:
//   lcdview [--segment NAME]                      the live window
//   lcdview [--segment NAME] --png FILE [--scale N]  the current frame as PNG, then exit
//   lcdview [--segment NAME] --text               the current frame as text art, then exit
// The segment defaults to DLPORTIO_LCD_SEGMENT, then to the module's per-user name; the
// contents of a newly created segment follow DLPORTIO_LCD_POWERON, as in the port library.
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
  bool help = false;

  bool oneShot() const { return !pngFile.isEmpty() || text; }
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
};

// The one-shot outputs of `options` for the module's current state: text art to `out`,
// the PNG to its file. Returns the process exit code; failures are explained on `err`.
int writeCurrentFrame(const ViewerOptions& options, std::FILE* out, std::FILE* err);

}  // namespace lcdview
