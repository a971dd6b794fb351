// The media-player page: one press of "Päivitä" takes a snapshot of the player beside the
// program through its window (search, title, three queries), fills the three boxes and
// writes the page to the display: the state on row 0, the title from row 2 on, the time on
// row 5 (written last, so it overwrites a title long enough to reach it). The title is read
// in Unicode, so its box shows it as the player gave it; the display gets it in its 8-bit
// code page like every other text. Nothing is kept between presses. The boxes are filled
// even while the port driver is not open; the page then refuses like the display buttons.
#include "app/winamp_page.h"

#include <QLineEdit>
#include <array>
#include <cstdio>

#include "app/omalcd.h"
#include "ui_omalcd.h"
#include "winapi/ansi_text.h"
#include "winapi/winamp.h"
#include "winapi/windows.h"

namespace kelvari::winamp_page {
namespace {

constexpr std::wstring_view TitleMarker = L"- Winamp";

constexpr wchar_t foldedAtoZ(wchar_t character) {
  return character >= L'A' && character <= L'Z' ? static_cast<wchar_t>(character - L'A' + L'a') : character;
}

bool isMarkerAt(std::wstring_view title, std::size_t position) {
  for (std::size_t i = 0; i < TitleMarker.size(); ++i) {
    if (foldedAtoZ(title[position + i]) != foldedAtoZ(TitleMarker[i])) return false;
  }
  return true;
}

}  // namespace

std::wstring_view trimmedTitle(std::wstring_view title) {
  if (title.size() < TitleMarker.size()) return {};
  for (std::size_t candidate = title.size() - TitleMarker.size() + 1; candidate-- > 0;) {
    if (!isMarkerAt(title, candidate)) continue;
    std::wstring_view kept = title.substr(0, candidate);
    while (!kept.empty() && kept.back() == L' ') kept.remove_suffix(1);
    return kept;
  }
  return {};
}

QString stateText(std::int32_t playState) {
  switch (playState) {
    case winamp::StatePlaying:
      return QStringLiteral("Winamp playing");
    case winamp::StatePaused:
      return QStringLiteral("Winamp paused");
    default:
      return QStringLiteral("Winamp stopped");
  }
}

std::string timeText(std::int32_t positionMilliseconds, std::int32_t lengthSeconds) {
  const std::int32_t playedSeconds = positionMilliseconds / 1000;
  std::array<char, 32> text{};
  const int length = std::snprintf(text.data(), text.size(), "%d:%.2d / %d:%.2d", playedSeconds / 60,
                                   playedSeconds % 60, lengthSeconds / 60, lengthSeconds % 60);
  return std::string(text.data(), static_cast<std::size_t>(length));
}

}  // namespace kelvari::winamp_page

void TForm1::Winamp_Button1Click(QObject*) {
  using namespace kelvari::winamp_page;
  const HWND player = FindWindowA(winamp::WindowClass, nullptr);
  std::array<wchar_t, TitleBufferSize> titleBuffer{};
  const int titleLength = GetWindowTextW(player, titleBuffer.data(), TitleBufferSize);
  const std::wstring_view title = trimmedTitle({titleBuffer.data(), static_cast<std::size_t>(titleLength)});
  const QString titleText = QString::fromWCharArray(title.data(), static_cast<qsizetype>(title.size()));
  ui_->Winamp_Edit1->setText(titleText);

  const auto playState = static_cast<std::int32_t>(SendMessageA(player, WM_USER, 0, winamp::IpcIsPlaying));
  ui_->Winamp_Edit2->setText(stateText(playState));
  const auto position =
      static_cast<std::int32_t>(SendMessageA(player, WM_USER, winamp::OutputPosition, winamp::IpcGetOutputTime));
  const auto length =
      static_cast<std::int32_t>(SendMessageA(player, WM_USER, winamp::OutputLength, winamp::IpcGetOutputTime));
  const std::string time = timeText(position, length);
  ui_->Winamp_Edit3->setText(QString::fromLatin1(time));

  requireOpenDriver();
  LcdClearText();
  LcdSetAddress(0, 0);
  LcdPrintText(winapi::toWindows1252(ui_->Winamp_Edit2->text()).constData());
  LcdSetAddress(0, 2);
  LcdPrintText(winapi::toWindows1252(titleText).constData());
  LcdSetAddress(0, 5);
  LcdPrintText(time.c_str());
}
