// The texts of the media-player page ("Winamp" group of the main window): the track title
// cut out of the player's window title, the play-state text and the time text. The handler
// itself, TForm1::Winamp_Button1Click, is in app/winamp_page.cpp.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvari::winamp_page {

// Characters of the title buffer, the terminating zero included.
inline constexpr int TitleBufferSize = 2048;

// The part of the title in front of the last "- Winamp" (the 8 characters compared with only
// A to Z folded), with every trailing space removed (tabs stay); empty without the marker.
std::wstring_view trimmedTitle(std::wstring_view title);

// "Winamp playing" for 1, "Winamp paused" for 3, "Winamp stopped" for every other reply.
QString stateText(std::int32_t playState);

// "%d:%.2d / %d:%.2d" of the elapsed and total minutes and seconds, with 32-bit truncating
// division; 26 characters at the most.
std::string timeText(std::int32_t positionMilliseconds, std::int32_t lengthSeconds);

}  // namespace kelvari::winamp_page
