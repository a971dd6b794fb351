// The parts of the windowing toolkit's runtime that the system uses outside its windows:
// the component base class with owner-managed lifetime, and the string, number and path
// helpers with the toolkit's own semantics and messages. Plain C++; the windows themselves
// are Qt's. Not provided: component streaming, notification of other components, name
// validation.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Base of the non-visual components. A component created with an owner is destroyed by
// that owner's destructor (the most recently added first) unless it was destroyed before,
// in which case it has already left its owner. A component given an owner must therefore
// be created with new; one without an owner is the creator's to destroy.
class TComponent {
 public:
  explicit TComponent(TComponent* AOwner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int Index) const;

  const std::string& Name() const { return FName; }
  void SetName(std::string Value) { FName = std::move(Value); }
  std::intptr_t Tag() const { return FTag; }
  void SetTag(std::intptr_t Value) { FTag = Value; }

 private:
  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  std::string FName;
  std::intptr_t FTag = 0;
};

// The toolkit's conversion error.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#ifdef _WIN32
inline constexpr char PathDelim = '\\';
#else
inline constexpr char PathDelim = '/';
#endif

// Text to a 32-bit integer: optional leading blanks, an optional sign, then decimal digits,
// or hexadecimal digits after '$' or "0x"/"0X" (hex may fill all 32 bits: "$FFFFFFFF" is
// -1). Anything else, trailing blanks and values out of range included, raises
// EConvertError("'<text>' is not a valid integer value").
int StrToInt(std::string_view S);

std::string IntToStr(std::int64_t Value);

// General number format: up to 15 significant digits, no trailing zeros, no decimal
// separator for whole values; scientific ("1.5E-7", "1E20") when the exponent is below -5
// or 15 and above. The separator is DecimalSeparator().
std::string FloatToStr(double Value);

// The decimal separator FloatToStr writes. Taken at first use from the user's numeric
// locale (LC_ALL, LC_NUMERIC, LANG); '.' when none is set or it cannot be loaded.
char DecimalSeparator();
void SetDecimalSeparator(char Separator);

// Everything before the last separator, without that separator unless it is the root
// (or follows another separator): "/usr/bin/x" -> "/usr/bin", "/x" -> "/", "x" -> "".
std::string ExtractFileDir(std::string_view FileName);

// Index 0: the full path of the running executable. Index n > 0: the n-th command-line
// argument. Out of range: empty.
std::string ParamStr(int Index);

// Design-time registration: the development environment's component palette, as a list
// that registration functions fill and tests read (winapi/component_palette.cpp).
using TComponentFactory = TComponent* (*)(TComponent* Owner);

struct TComponentClass {
  std::string ClassName;
  TComponentFactory Create;  // a new instance with the given owner
};

struct TPaletteEntry {
  std::string Page;
  TComponentClass Class;
};

// Puts the classes on the named page in the order given. A class name already on the
// palette keeps its first place, so registering again changes nothing.
void RegisterComponents(const std::string& Page, const std::vector<TComponentClass>& Classes);
// Every class registered, in the order of registration.
std::vector<TPaletteEntry> ComponentPalette();
