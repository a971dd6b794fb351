// lcdview: the live viewer of the virtual display module with its bus log, or one-shot
// outputs: a frame as PNG or text art, the bus trace as a log or a waveform
// (viewer_options.h).
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "portlib/settings.h"
#include "tools/viewer_options.h"
#include "tools/viewer_placement.h"
#include "tools/viewer_window.h"

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  // Only the segment and its power-on contents: the module's live settings are the window's
  // controls, and the backend is the port library's business.
  const auto used = [](const char* name) {
    return std::string_view(name) == portlib::EnvSegment || std::string_view(name) == portlib::EnvPowerOn
               ? std::getenv(name)
               : nullptr;
  };
  const auto environment = portlib::readSettings(used,
                                                 [](std::string_view line) {
                                                   std::fprintf(stderr, "lcdview: %.*s\n", static_cast<int>(line.size()),
                                                                line.data());
                                                 });
  lcdview::ViewerCommandLine commandLine(environment);
  const auto parsed = commandLine.parse(arguments);
  if (const auto* error = std::get_if<QString>(&parsed)) {
    std::fprintf(stderr, "lcdview: %s (see lcdview --help)\n", qPrintable(*error));
    return 2;
  }
  const auto& options = std::get<lcdview::ViewerOptions>(parsed);
  if (options.help) {
    const QCoreApplication app(argc, argv);
    std::fputs(qPrintable(commandLine.helpText()), stdout);
    return 0;
  }
  if (options.oneShot()) return lcdview::writeOneShotOutputs(options, stdout, stderr);

  QApplication app(argc, argv);
  lcdview::ViewerWindow window(options.segment, options.powerOnContents);
  lcdview::placeBesideTheBench(window);
  window.show();
  return app.exec();
}
