// A program under test run to its end, with a bound on the wait.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace tools_test {

struct ProgramRun {
  int exitCode = -1;  // -1: did not finish in time, or crashed
  std::string out;
  std::string err;
};

// `environment`: "NAME=VALUE", added to this process's own; `childModifier` runs in the
// child before it executes the program.
inline ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments, int seconds = 60,
                             const std::vector<std::string>& environment = {},
                             const std::function<void()>& childModifier = {}) {
  QStringList list;
  for (const auto& argument : arguments) list << QString::fromStdString(argument);
  QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
  for (const auto& variable : environment) {
    const auto equals = variable.find('=');
    variables.insert(QString::fromStdString(variable.substr(0, equals)), QString::fromStdString(variable.substr(equals + 1)));
  }
  QProcess process;
  process.setProcessEnvironment(variables);
  process.setChildProcessModifier(childModifier);
  process.start(QString::fromStdString(program), list);
  if (!process.waitForFinished(seconds * 1000)) {
    process.kill();
    process.waitForFinished();
    return {-1, {}, program + " did not finish in " + std::to_string(seconds) + " s"};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

}  // namespace tools_test
