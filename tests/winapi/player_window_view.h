// What the media-player page reads from the player's window, read through the stand-ins in
// the page's order: search, title, state, position, length.
#pragma once

#include <QString>
#include <array>

#include "winapi/winamp.h"
#include "winapi/windows.h"

namespace winapi::test {

struct PlayerWindowView {
  bool found = false;
  QString title;
  LRESULT state = -1;
  LRESULT position = -1;
  LRESULT length = -1;
};

inline PlayerWindowView viewPlayerWindow() {
  const HWND window = FindWindowA(winamp::WindowClass, nullptr);
  std::array<wchar_t, 2048> title{};
  const int titleLength = GetWindowTextW(window, title.data(), static_cast<int>(title.size()));
  return {.found = window != nullptr,
          .title = QString::fromWCharArray(title.data(), titleLength),
          .state = SendMessageA(window, WM_USER, 0, winamp::IpcIsPlaying),
          .position = SendMessageA(window, WM_USER, winamp::OutputPosition, winamp::IpcGetOutputTime),
          .length = SendMessageA(window, WM_USER, winamp::OutputLength, winamp::IpcGetOutputTime)};
}

}  // namespace winapi::test
