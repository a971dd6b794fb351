// TDLPrinterPortIO: the printer-port descendant of TDLPortIO. On creation it finds the
// parallel ports the system has installed, by reading the registry as Windows 95/98 or the
// NT family keeps them, records each base address by LPT number and selects LPT1. It reads
// and drives single connector pins of the selected port and sends a character with the
// printer strobe, all through GetPortByte and SetPortByte.
//
// Detection reads the registry only and needs no open driver. Nothing here raises or
// reports: a registry entry that is missing, malformed or too long for its buffer is
// skipped. While no port was found for the selected number (LPTBasePort 0) the pin and
// character operations touch no port, since I/O ports 0 to 2 belong to the DMA controller.
// Not here: waiting for the printer, time-outs, the port's extended modes.
#pragma once

#include "portio/tdlportio.h"

#include <array>
#include <cstdint>

class TDLPrinterPortIO : public TDLPortIO {
 public:
  // Masks of bit 0 to bit 7 of a register.
  static constexpr std::uint8_t BIT0 = 0x01;
  static constexpr std::uint8_t BIT1 = 0x02;
  static constexpr std::uint8_t BIT2 = 0x04;
  static constexpr std::uint8_t BIT3 = 0x08;
  static constexpr std::uint8_t BIT4 = 0x10;
  static constexpr std::uint8_t BIT5 = 0x20;
  static constexpr std::uint8_t BIT6 = 0x40;
  static constexpr std::uint8_t BIT7 = 0x80;

  // Connector pin numbers for GetPin and SetPin; the data pins 2 to 9 are used by number.
  static constexpr std::int32_t STROBE_PIN = 1;
  static constexpr std::int32_t ACK_PIN = 10;
  static constexpr std::int32_t BUSY_PIN = 11;
  static constexpr std::int32_t PAPEREND_PIN = 12;
  static constexpr std::int32_t SELECTOUT_PIN = 13;
  static constexpr std::int32_t AUTOFD_PIN = 14;
  static constexpr std::int32_t ERROR_PIN = 15;
  static constexpr std::int32_t INIT_PIN = 16;
  static constexpr std::int32_t SELECTIN_PIN = 17;

  // Detects the ports and selects LPT1.
  explicit TDLPrinterPortIO(TComponent* Owner);
  ~TDLPrinterPortIO() override;

  // Refills the table with the walk for the running family; the selected port keeps its
  // base until the next SetLPTNumber.
  void DetectPorts();
  void DetectPorts9x();
  void DetectPortsNT();

  // Port entries the last detection accepted (low 8 bits of the count).
  std::uint8_t GetLPTNumPorts() const;
  std::uint8_t LPTNumPorts() const { return GetLPTNumPorts(); }
  // The selected LPT number, 1 to 8; numbers outside 1..8 are ignored.
  std::uint8_t LPTNumber() const { return FCurrentLPT; }
  void SetLPTNumber(std::uint8_t Number);
  // Base address of the selected port as of the last SetLPTNumber; 0 when none was found.
  std::uint16_t GetLPTBasePort() const;
  std::uint16_t LPTBasePort() const { return GetLPTBasePort(); }

  // The level at a connector pin, true meaning high; false for a pin not in the map.
  bool GetPin(std::uint8_t Pin);
  // Drives an output pin (1 to 9, 14, 16, 17) to the level; other pins are left alone.
  void SetPin(std::uint8_t Pin, bool State);
  // Strobes the character out; true when the printer is not busy right afterwards.
  bool LPTPrintChar(char Ch);

 private:
  // Stores an accepted entry's base and counts it. Numbers outside 0..8 have no element and
  // are not counted; element 0 can be filled but never selected.
  void AcceptPort(long Number, std::uint16_t Base);

  std::uint8_t FCurrentLPT = 0;
  std::uint16_t FCurrentBase = 0;
  std::int32_t FPortCount = 0;
  std::array<std::uint16_t, 9> FPortBases{};
};
