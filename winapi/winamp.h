// The media player's window as other programs talk to it: its window class, the end of its
// title, and the WM_USER queries (the query's code in lParam, its argument in wParam).
// Shared by the player-window stand-ins that answer and the media-player page that asks.
#pragma once

#include "winapi/windows.h"

namespace winamp {

inline constexpr char WindowClass[] = "Winamp v1.x";
// The player's title ends in this; the track's text stands before it.
inline constexpr char TitleSuffix[] = " - Winamp";

// Play state: 1 playing, 3 paused, anything else stopped.
inline constexpr LPARAM IpcIsPlaying = 104;
inline constexpr LRESULT StatePlaying = 1;
inline constexpr LRESULT StatePaused = 3;
inline constexpr LRESULT StateStopped = 0;

// Time of the current track: wParam OutputPosition gives the elapsed time in milliseconds,
// OutputLength the total length in seconds.
inline constexpr LPARAM IpcGetOutputTime = 105;
inline constexpr WPARAM OutputPosition = 0;
inline constexpr WPARAM OutputLength = 1;

}  // namespace winamp
