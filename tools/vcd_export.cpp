// Writing the bus trace as a Value Change Dump.
#include "tools/vcd_export.h"

#include <QSaveFile>

#include <string>

#include "t6963/bus_decoder.h"

namespace lcdview {
namespace {

// Written to the file whenever this much has piled up.
constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

// One-character identifiers of the lines: '!', '"', '#', ...
char identifier(std::size_t line) { return static_cast<char>('!' + line); }

std::string header(const t6963::TraceCopy& trace) {
  std::string text = "$version lcdview, Kelvari's virtual T6963C display module $end\n";
  text += "$comment bus trace: " + t6963::busLogHeader(trace) + "; " + t6963::moduleHeader(trace.build) +
          ". One port access per microsecond: access n at time n. /WR /RD /CE at their pin levels (active low); "
          "DIR 1: the port reads the data lines. The controller's lines, after the cable. $end\n";
  text += "$timescale 1 us $end\n$scope module t6963c $end\n";
  for (std::size_t line = 0; line < t6963::LineCount; ++line) {
    text += "$var wire 1 ";
    text += identifier(line);
    text += ' ';
    text += t6963::lineName(static_cast<t6963::Line>(line));
    text += " $end\n";
  }
  return text + "$upscope $end\n$enddefinitions $end\n";
}

void appendLevel(std::string& text, t6963::Level level, std::size_t line) {
  text += static_cast<char>(level);
  text += identifier(line);
  text += '\n';
}

}  // namespace

QString writeVcd(const QString& path, const t6963::TraceCopy& trace) {
  QSaveFile file(path);
  const auto failure = [&] { return QStringLiteral("cannot write %1: %2").arg(path, file.errorString()); };
  if (!file.open(QIODevice::WriteOnly)) return failure();

  std::string text = header(trace);
  const auto flush = [&] {
    const bool written = file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
    text.clear();
    return written;
  };

  const auto levels = t6963::decodeLineLevels(trace);
  const std::uint64_t start = trace.firstAccess - 1;
  text += '#' + std::to_string(start) + "\n$dumpvars\n";
  for (std::size_t line = 0; line < t6963::LineCount; ++line) appendLevel(text, levels[0][line], line);
  text += "$end\n";
  for (std::size_t step = 1; step < levels.size(); ++step) {
    bool stamped = false;
    for (std::size_t line = 0; line < t6963::LineCount; ++line) {
      if (levels[step][line] == levels[step - 1][line]) continue;
      if (!stamped) text += '#' + std::to_string(start + step) + '\n';
      stamped = true;
      appendLevel(text, levels[step][line], line);
    }
    if (text.size() >= ChunkBytes && !flush()) return failure();
  }
  text += '#' + std::to_string(start + levels.size()) + '\n';
  if (!flush() || !file.flush() || !file.commit()) return failure();  // commit() overlooks a failed last flush
  return {};
}

}  // namespace lcdview
