// One quaxsvcadmin at a time: a second start brings the running window to
// the front and ends.
#pragma once

#include <cstdint>
#include <string>

namespace quax {

using WindowRef = std::uintptr_t;  // a window handle; 0 is none

class InstanceSystem {
 public:
  virtual ~InstanceSystem() = default;
  // Claims the program's instance for this process; false when another
  // process holds it.
  virtual bool ClaimInstance() = 0;
  virtual WindowRef FindTopLevelWindow(const std::string& title) = 0;
  virtual bool IsMinimised(WindowRef window) = 0;
  virtual void Restore(WindowRef window) = 0;
  virtual void BringToFront(WindowRef window) = 0;
};

// True when this process is the only instance and goes on; false when
// another one runs, whose window (found by its title) has been restored and
// brought to the front.
bool ContinueAsOnlyInstance(InstanceSystem& system, const std::string& title);

}  // namespace quax
