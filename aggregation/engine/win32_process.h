// CWin32Process: reads and sets the priority class of a process (by default
// this one), sleeps and yields; RunIdentifier: the run's UTC time stamp.
// The priority goes through the platform layer: Windows priority classes on
// Windows, nice values standing in for them elsewhere.
#pragma once

#include <cstdint>
#include <string>

// winbase.h defines an empty Yield() macro (a 16-bit leftover) that would
// erase the member below wherever windows.h comes first.
#undef Yield

namespace quax::agg {

enum EPriorityClass : std::int32_t {
  EPriorityClass_Unknown = 0,
  EPriorityClass_Realtime = 256,
  EPriorityClass_High = 128,
  EPriorityClass_AboveNormal = 32768,
  EPriorityClass_Normal = 32,
  EPriorityClass_BelowNormal = 16384,
  EPriorityClass_Idle = 64,
};

enum EProcessPriorityClass : std::int32_t {
  EProcessPriorityClass_Unknown = 0,
  EProcessPriorityClass_High = 128,
  EProcessPriorityClass_AboveNormal = 32768,
  EProcessPriorityClass_Normal = 32,
  EProcessPriorityClass_BelowNormal = 16384,
  EProcessPriorityClass_Idle = 64,
};

// The class actually requested for `value` on a system of `osMajorVersion`:
// systems before 5 lack above/below normal (high and idle instead), and an
// invalid class becomes below normal.
std::int32_t EffectivePriorityClass(std::int32_t value, std::int32_t osMajorVersion) noexcept;
// "High", "Above Normal", "Normal", "Below Normal", "Idle"; empty otherwise.
std::string PriorityClassName(std::int32_t priorityClass);
// Upper-cased "HIGH", "ABOVENORMAL", "NORMAL", "BELOWNORMAL", "IDLE"; any
// other text gives below normal.
std::int32_t PriorityClassFromText(std::string_view text) noexcept;

class CWin32Process {
 public:
  CWin32Process() { Class_Initialize(); }

  void Class_Initialize() noexcept;
  std::int32_t Id() const noexcept { return static_cast<std::int32_t>(processId_); }
  void SetId(std::int32_t id) noexcept { processId_ = static_cast<std::uint32_t>(id); }

  static bool IsValidPriorityClass(std::int32_t priorityClass) noexcept;
  std::int32_t PriorityClass() const noexcept;
  void SetPriorityClass(std::int32_t value) noexcept;
  std::string PriorityClassAsString() const { return PriorityClassName(PriorityClass()); }
  void SetPriorityClassAsString(std::string_view text) noexcept {
    SetPriorityClass(PriorityClassFromText(text));
  }

  static void Sleep(std::int32_t milliseconds);
  static void Yield();

 private:
  std::uint32_t processId_ = 0;
};

// UTC time as yyyymmddhhmmss followed by four digits of milliseconds:
// 18 characters.
std::string RunIdentifier();

}  // namespace quax::agg
