// The hardware monitor's shared-memory block "$M$B$M$5$D$" as this system reads it: 165
// bytes, little-endian, ten 32-bit temperatures at 0, ten doubles of voltage at 40, ten
// 32-bit fan speeds at 120, a 32-bit word at 160 and a byte at 164 that nothing here
// interprets. Shared by the reader (MBMCAF_c) and our publisher (kelvari-sensors); the
// monitor's units are whatever it stores: the publisher stores whole degrees Celsius, RPM
// and volts.
//
// What any publisher keeps to for the reader to take its block (README, "Publishing the
// block from another program"; scripts/example-sensor-publisher.pl is an example):
// - the POSIX object "/" + BlockName, i.e. /dev/shm/$M$B$M$5$D$: a regular file owned by
//   the reading user (or by root and readable by that user), mode 0600 as ours is, of at
//   least BlockSize bytes (the first BlockSize are read);
// - a fcntl write lock over the whole file (F_WRLCK, SEEK_SET, l_start 0, l_len 0; taken
//   with F_OFD_SETLK or F_SETLK) from before the first write until the block is removed or
//   the publisher ends. The reader tests it at every open with F_OFD_GETLK for F_WRLCK over
//   the whole file, taking no lock: any fcntl lock another open file holds counts, an
//   flock(2) lock does not;
// - rewrites in place, never shorter than BlockSize; readers take no lock and may copy a
//   block half rewritten. At the end the name is removed while it still leads to the
//   publisher's file, then the lock let go.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvari::mbm {

static_assert(std::endian::native == std::endian::little, "the block is little-endian");

inline constexpr char BlockName[] = "$M$B$M$5$D$";
inline constexpr std::size_t SensorCount = 10;  // of each kind

inline constexpr std::size_t TemperatureOffset = 0;
inline constexpr std::size_t VoltageOffset = 40;
inline constexpr std::size_t FanSpeedOffset = 120;
inline constexpr std::size_t WordOffset = 160;
inline constexpr std::size_t ByteOffset = 164;
inline constexpr std::size_t BlockSize = 165;

struct MbmSharedData {
  std::array<std::int32_t, SensorCount> temperatures{};
  std::array<double, SensorCount> voltages{};
  std::array<std::int32_t, SensorCount> fanSpeeds{};
  std::int32_t word = 0;
  std::uint8_t byte = 0;
};

// The block's bytes into the fields, in the block's order.
inline MbmSharedData decode(const unsigned char* block) {
  MbmSharedData data;
  std::memcpy(data.temperatures.data(), block + TemperatureOffset, sizeof data.temperatures);
  std::memcpy(data.voltages.data(), block + VoltageOffset, sizeof data.voltages);
  std::memcpy(data.fanSpeeds.data(), block + FanSpeedOffset, sizeof data.fanSpeeds);
  std::memcpy(&data.word, block + WordOffset, sizeof data.word);
  std::memcpy(&data.byte, block + ByteOffset, sizeof data.byte);
  return data;
}

inline std::array<unsigned char, BlockSize> encode(const MbmSharedData& data) {
  std::array<unsigned char, BlockSize> block{};
  std::memcpy(block.data() + TemperatureOffset, data.temperatures.data(), sizeof data.temperatures);
  std::memcpy(block.data() + VoltageOffset, data.voltages.data(), sizeof data.voltages);
  std::memcpy(block.data() + FanSpeedOffset, data.fanSpeeds.data(), sizeof data.fanSpeeds);
  std::memcpy(block.data() + WordOffset, &data.word, sizeof data.word);
  std::memcpy(block.data() + ByteOffset, &data.byte, sizeof data.byte);
  return block;
}

}  // namespace kelvari::mbm
