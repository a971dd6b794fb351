// Design-time registration of the port components on the development environment's
// component palette.
#pragma once

namespace Dlportio {

// The page of the palette that holds the port components.
inline constexpr char PalettePage[] = "Port I/O";

// Registers TDLPortIO and then TDLPrinterPortIO on PalettePage.
void Register();

}  // namespace Dlportio
