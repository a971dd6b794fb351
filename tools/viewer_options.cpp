// Parsing lcdview's command line and writing its one-shot outputs.
#include "tools/viewer_options.h"

#include <QSaveFile>

#include <exception>

#include "t6963/bus_decoder.h"
#include "t6963/renderer.h"
#include "t6963/shared_module.h"
#include "tools/lcd_image.h"
#include "tools/vcd_export.h"

namespace lcdview {

ViewerCommandLine::ViewerCommandLine(const portlib::Settings& environment)
    : environment_(environment),
      help_({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help.")),
      segment_(QStringLiteral("segment"),
               QStringLiteral("Shared-memory segment of the module (default: %1).")
                   .arg(QString::fromStdString(portlib::segmentNameOf(environment))),
               QStringLiteral("name")),
      png_(QStringLiteral("png"), QStringLiteral("Write the current frame as PNG and exit."), QStringLiteral("file")),
      scale_(QStringLiteral("scale"),
             QStringLiteral("Image pixels per display pixel for --png, %1..%2 (default %3).")
                 .arg(MinScale)
                 .arg(MaxScale)
                 .arg(DefaultPngScale),
             QStringLiteral("n")),
      text_(QStringLiteral("text"), QStringLiteral("Print the current frame as text art and exit.")),
      vcd_(QStringLiteral("vcd"),
           QStringLiteral("Write the recorded port lines as a Value Change Dump (GTKWave, PulseView) and exit."),
           QStringLiteral("file")),
      log_(QStringLiteral("log"), QStringLiteral("Print the decoded bus log and exit.")) {
  parser_.setApplicationDescription(QStringLiteral("Live view of the virtual T6963C display module."));
  parser_.addOptions({help_, segment_, png_, scale_, text_, vcd_, log_});
}

std::variant<ViewerOptions, QString> ViewerCommandLine::parse(const QStringList& arguments) {
  if (!parser_.parse(arguments)) return parser_.errorText();
  if (!parser_.positionalArguments().isEmpty()) {
    return QStringLiteral("unexpected argument '%1'").arg(parser_.positionalArguments().constFirst());
  }

  ViewerOptions options;
  options.powerOnContents = environment_.powerOn;
  options.segment = portlib::segmentNameOf(environment_);
  options.help = parser_.isSet(help_);
  if (options.help) return options;
  if (parser_.isSet(segment_)) {
    options.segment = parser_.value(segment_).toStdString();
    if (!portlib::isSegmentName(options.segment)) {
      return QStringLiteral("--segment '%1': expected a name of the form /name").arg(parser_.value(segment_));
    }
  }
  options.pngFile = parser_.value(png_);
  if (parser_.isSet(png_) && options.pngFile.isEmpty()) return QStringLiteral("--png needs a file name");
  if (parser_.isSet(scale_)) {
    if (!parser_.isSet(png_)) return QStringLiteral("--scale applies only with --png");
    bool isNumber = false;
    options.scale = parser_.value(scale_).toInt(&isNumber);
    if (!isNumber || options.scale < MinScale || options.scale > MaxScale) {
      return QStringLiteral("--scale '%1': expected a whole number from %2 to %3")
          .arg(parser_.value(scale_))
          .arg(MinScale)
          .arg(MaxScale);
    }
  }
  options.text = parser_.isSet(text_);
  options.vcdFile = parser_.value(vcd_);
  if (parser_.isSet(vcd_) && options.vcdFile.isEmpty()) return QStringLiteral("--vcd needs a file name");
  options.log = parser_.isSet(log_);
  return options;
}

QString missingModuleText(const std::string& segment) {
  return QStringLiteral("no virtual display %1: start the test bench first, or check DLPORTIO_LCD_SEGMENT")
      .arg(QString::fromStdString(segment));
}

namespace {

// Through a temporary file in the same folder that replaces `path` only when complete: on
// failure (bad name, full disk) the old file stays and no partial one is left. Returns the
// reason it failed, or an empty string. The explicit flush matters: QSaveFile::commit()
// overlooks a buffered write that fails as it closes the file (Qt 6.4).
QString writePng(const QString& path, const QImage& image) {
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.flush() && file.commit()) return {};
  return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
}

}  // namespace

int writeOneShotOutputs(const ViewerOptions& options, std::FILE* out, std::FILE* err) {
  t6963::Frame frame;
  t6963::TraceCopy trace;
  try {
    const auto module = t6963::SharedModule::openExisting(options.segment);
    if (!module) {
      std::fprintf(err, "lcdview: %s\n", qPrintable(missingModuleText(options.segment)));
      return 1;
    }
    const auto state = module->snapshot();
    frame = t6963::render(state, t6963::blinkPhaseOn(state, t6963::monotonicNow()));
    if (options.log || !options.vcdFile.isEmpty()) trace = t6963::copyTrace(module->trace(), state.build);
  } catch (const std::exception& error) {
    std::fprintf(err, "lcdview: %s\n", error.what());
    return 1;
  }
  if (options.text) std::fputs(t6963::frameToText(frame).c_str(), out);
  if (options.log) std::fputs(t6963::formatBusLog(trace).c_str(), out);
  if (!options.pngFile.isEmpty()) {
    const QString failure = writePng(options.pngFile, frameToImage(frame, options.scale));
    if (!failure.isEmpty()) {
      std::fprintf(err, "lcdview: %s\n", qPrintable(failure));
      return 1;
    }
  }
  if (!options.vcdFile.isEmpty()) {
    const QString failure = writeVcd(options.vcdFile, trace);
    if (!failure.isEmpty()) {
      std::fprintf(err, "lcdview: %s\n", qPrintable(failure));
      return 1;
    }
    if (!trace.wholeHistory()) {
      std::fprintf(err, "lcdview: %s holds %s\n", qPrintable(options.vcdFile), t6963::busLogHeader(trace).c_str());
    }
  }
  return 0;
}

}  // namespace lcdview
