// Dlportio::Register: the port components on the palette.
#include "portio/register.h"

#include "portio/tdlportio.h"
#include "portio/tdlprinterportio.h"
#include "toolkit/toolkit.h"

namespace Dlportio {

void Register() {
  RegisterComponents(PalettePage,
                     {
                         {"TDLPortIO", [](TComponent* Owner) -> TComponent* { return new TDLPortIO(Owner); }},
                         {"TDLPrinterPortIO",
                          [](TComponent* Owner) -> TComponent* { return new TDLPrinterPortIO(Owner); }},
                     });
}

}  // namespace Dlportio
