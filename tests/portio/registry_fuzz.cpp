// libFuzzer target: any input, read as a registry image in its text form, goes through both
// detection walks of TDLPrinterPortIO (under AddressSanitizer in the fuzz build). Besides
// memory faults it stops on a key left open and on a selection outside LPT1..LPT8. Inputs
// that are not an image exercise the image reader alone.
#include "portio/tdlprinterportio.h"
#include "winapi/fake.h"
#include "winapi/registry_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckSelection(TDLPrinterPortIO& port) {
  for (int number = 0; number <= 255; ++number) {
    port.SetLPTNumber(static_cast<std::uint8_t>(number));
    Require(port.LPTNumber() >= 1 && port.LPTNumber() <= 8);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  winapi::fake::reset();
  winapi::RegistryImage image;
  try {
    image = winapi::ParseRegistryImage(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const winapi::RegistryFormatError&) {
    return 0;
  }
  winapi::fake::loadRegistry(std::move(image));

  TDLPrinterPortIO port(nullptr);  // the 95/98 walk
  Require(winapi::fake::openRegistryKeys() == 0);
  CheckSelection(port);
  port.DetectPortsNT();
  Require(winapi::fake::openRegistryKeys() == 0);
  CheckSelection(port);
  return 0;
}
