#include "engine/win32_process.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/platform_system.h"

namespace quax::agg {

std::int32_t EffectivePriorityClass(std::int32_t value, std::int32_t osMajorVersion) noexcept {
  if (osMajorVersion < 5) {
    if (value == EPriorityClass_AboveNormal) value = EPriorityClass_High;
    if (value == EPriorityClass_BelowNormal) value = EPriorityClass_Idle;
  }
  return CWin32Process::IsValidPriorityClass(value) ? value : EPriorityClass_BelowNormal;
}

std::string PriorityClassName(std::int32_t priorityClass) {
  switch (priorityClass) {
    case EPriorityClass_High: return "High";
    case EPriorityClass_AboveNormal: return "Above Normal";
    case EPriorityClass_Normal: return "Normal";
    case EPriorityClass_BelowNormal: return "Below Normal";
    case EPriorityClass_Idle: return "Idle";
    default: return "";
  }
}

std::int32_t PriorityClassFromText(std::string_view text) noexcept {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper == "HIGH") return EPriorityClass_High;
  if (upper == "ABOVENORMAL") return EPriorityClass_AboveNormal;
  if (upper == "NORMAL") return EPriorityClass_Normal;
  if (upper == "IDLE") return EPriorityClass_Idle;
  return EPriorityClass_BelowNormal;
}

void CWin32Process::Class_Initialize() noexcept { processId_ = platform::CurrentProcessId(); }

bool CWin32Process::IsValidPriorityClass(std::int32_t priorityClass) noexcept {
  switch (priorityClass) {
    case EPriorityClass_Normal:
    case EPriorityClass_Idle:
    case EPriorityClass_High:
    case EPriorityClass_BelowNormal:
    case EPriorityClass_AboveNormal: return true;
    default: return false;
  }
}

std::int32_t CWin32Process::PriorityClass() const noexcept {
  return platform::GetProcessPriorityClass(processId_);
}

void CWin32Process::SetPriorityClass(std::int32_t value) noexcept {
  platform::SetProcessPriorityClass(processId_,
                                    EffectivePriorityClass(value, platform::OsMajorVersion()));
}

void CWin32Process::Sleep(std::int32_t milliseconds) {
  if (milliseconds < 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void CWin32Process::Yield() { std::this_thread::yield(); }

std::string RunIdentifier() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                                now.time_since_epoch()).count() % 1000;
  std::tm utc {};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[96];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%04d", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(milliseconds));
  return text;
}

}  // namespace quax::agg
