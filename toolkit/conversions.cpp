// The toolkit's string, number and path helpers.
#include "toolkit/toolkit.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

#include <array>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <system_error>

namespace {

[[noreturn]] void notAnInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

#ifdef _WIN32
char localeDecimalSeparator() {
  std::array<char, 4> radix{};
  const int length = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, radix.data(), static_cast<int>(radix.size()));
  return length == 2 ? radix[0] : '.';  // one character and its terminator
}
#else
char localeDecimalSeparator() {
  const locale_t user = ::newlocale(LC_NUMERIC_MASK, "", nullptr);
  if (user == nullptr) return '.';
  const char* radix = ::nl_langinfo_l(RADIXCHAR, user);
  const char separator = radix != nullptr && radix[0] != '\0' && radix[1] == '\0' ? radix[0] : '.';
  ::freelocale(user);
  return separator;
}
#endif

std::atomic<char>& separatorSetting() {
  static std::atomic<char> separator{localeDecimalSeparator()};
  return separator;
}

}  // namespace

int StrToInt(std::string_view S) {
  std::size_t i = 0;
  while (i < S.size() && S[i] == ' ') ++i;
  bool negative = false;
  if (i < S.size() && (S[i] == '+' || S[i] == '-')) negative = S[i++] == '-';
  int base = 10;
  if (i < S.size() && S[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < S.size() && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == S.size()) notAnInteger(S);

  // Hex may fill all 32 bits; decimal must fit the signed range.
  const std::uint64_t limit = base == 16 ? std::numeric_limits<std::uint32_t>::max()
                              : negative ? std::uint64_t{1} << 31
                                         : std::numeric_limits<std::int32_t>::max();
  std::uint64_t magnitude = 0;
  for (; i < S.size(); ++i) {
    const int digit = digitValue(S[i]);
    if (digit < 0 || digit >= base) notAnInteger(S);
    magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (magnitude > limit) notAnInteger(S);
  }
  const auto bits = static_cast<std::uint32_t>(magnitude);
  return static_cast<std::int32_t>(negative ? 0U - bits : bits);
}

std::string IntToStr(std::int64_t Value) { return std::to_string(Value); }

std::string FloatToStr(double Value) {
  constexpr int Precision = 15;
  constexpr int LowestFixedExponent = -5;
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  if (Value == 0) return "0";

  // d.dddddddddddddde[+-]x: the digits rounded to the precision, and the exponent. Written
  // by to_chars, which ignores the C locale (a Qt application sets the user's, in which
  // printf may write a decimal comma).
  char scientific[32];
  const std::to_chars_result written =
      std::to_chars(std::begin(scientific), std::end(scientific), Value, std::chars_format::scientific, Precision - 1);
  const std::string text(std::begin(scientific), written.ptr);
  const std::size_t e = text.find('e');
  const bool negative = text[0] == '-';
  std::string digits;
  for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
    if (text[i] != '.') digits.push_back(text[i]);
  }
  digits.erase(digits.find_last_not_of('0') + 1);
  const int exponent = std::atoi(text.c_str() + e + 1);
  const char separator = DecimalSeparator();

  std::string result;
  if (negative) result.push_back('-');
  if (exponent < LowestFixedExponent || exponent >= Precision) {
    result.push_back(digits[0]);
    if (digits.size() > 1) result.append(1, separator).append(digits, 1);
    result.append("E").append(std::to_string(exponent));
  } else if (exponent < 0) {
    result.append(1, '0').append(1, separator);
    result.append(static_cast<std::size_t>(-exponent - 1), '0').append(digits);
  } else {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      result.append(digits).append(whole - digits.size(), '0');
    } else {
      result.append(digits, 0, whole).append(1, separator).append(digits, whole);
    }
  }
  return result;
}

char DecimalSeparator() { return separatorSetting().load(); }

void SetDecimalSeparator(char Separator) { separatorSetting().store(Separator); }

std::string ExtractFileDir(std::string_view FileName) {
  const std::size_t last = FileName.rfind(PathDelim);
  if (last == std::string_view::npos) return {};
  const bool keepSeparator = last == 0 || FileName[last - 1] == PathDelim;
  return std::string(FileName.substr(0, keepSeparator ? last + 1 : last));
}

#ifdef _WIN32
std::string ParamStr(int Index) {
  if (Index < 0) return {};
  if (Index == 0) {
    std::array<char, 32768> path{};
    const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return length == 0 || length >= path.size() ? std::string() : std::string(path.data(), length);
  }
  return Index < __argc ? std::string(__argv[Index]) : std::string();
}
#else
std::string ParamStr(int Index) {
  if (Index < 0) return {};
  if (Index == 0) {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : executable.string();
  }
  std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
  std::string argument;
  for (int i = 0; std::getline(commandLine, argument, '\0'); ++i) {
    if (i == Index) return argument;
  }
  return {};
}
#endif
