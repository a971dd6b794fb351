// The live viewer's window: the LCD glass, the status line, the bus log, and the module's
// live controls (power cycle, connect/disconnect, busy time). It watches a segment and
// creates none: until the module appears it says that it waits for it, with its controls
// off. A timer takes a consistent copy of the shared state at least 30 times a second and
// repaints from it; the cursor and attribute blink follow the wall clock, as on the real
// glass. A copy waits at most FrameCopyBound: while another process holds the state in the
// middle of an update, the last good frame stays and the status line says which process
// holds it and whether it is stopped. The bus log decodes the newest records of the
// module's bus trace ten times a second when new ones arrived; it only reads the ring, so
// the bus side never waits for it. Layout in viewer_window.ui; the log sits below the glass,
// or beside it when the window is too short for both (a laptop's strip below the test bench).
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "t6963/shared_module.h"

namespace Ui {
class ViewerWindow;
}

namespace lcdview {

// 33 frames per second nominal, so that at least 30 are shown when ticks run late.
inline constexpr int FrameIntervalMs = 30;
inline constexpr int BlinkHalfPeriodMs = 500;
inline constexpr std::chrono::milliseconds FrameCopyBound{20};
inline constexpr int BusLogIntervalMs = 100;
// The bus log decodes this many of the newest records and shows at most BusLogEntries lines:
// enough for a whole wait of the test bench that ran out (250 ms of polls at a real port's
// rate, 250,000 accesses) and what came before it.
inline constexpr std::size_t BusLogRecords = std::size_t{1} << 19;
inline constexpr std::size_t BusLogEntries = 1000;

class ViewerWindow : public QWidget {
  Q_OBJECT

 public:
  // Watches the module in segment `segment`; `powerOnContents` is what a power cycle from
  // the window puts into display memory.
  ViewerWindow(std::string segment, t6963::PowerOnContents powerOnContents, QWidget* parent = nullptr);
  ~ViewerWindow() override;

  // Shows one frame from a fresh copy of the state; the timer calls it.
  void refresh();
  // Decodes the newest records into the bus log if any arrived; its timer calls it.
  void refreshBusLog();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool attach();  // whether the module is there, attaching to it when it has appeared
  void fitToGlass();
  void arrange();  // the log below the glass or beside it, as the window's height allows
  void powerCycle();
  void setConnected(bool connected);
  void setBusyAccesses(int accesses);
  void showControls(const t6963::ModuleState& state);

  std::unique_ptr<Ui::ViewerWindow> ui_;
  std::string segment_;
  std::optional<t6963::SharedModule> module_;
  t6963::PowerOnContents powerOnContents_;
  QTimer frameTimer_;
  QTimer busLogTimer_;
  QElapsedTimer clock_;
  std::uint64_t busLogRecords_ = 0;  // recordedCount() when the bus log was last decoded
  t6963::ModuleBuild build_;          // the module's, as the latest frame showed it
  int stackedMinimumHeight_ = 0;      // the smallest height with the log below the glass
};

}  // namespace lcdview
