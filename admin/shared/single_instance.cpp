#include "single_instance.h"

namespace quax {

bool ContinueAsOnlyInstance(InstanceSystem& system, const std::string& title) {
  if (system.ClaimInstance()) return true;
  // The first instance may still be creating its window: then there is
  // nothing to show, and this one ends all the same.
  const WindowRef window = system.FindTopLevelWindow(title);
  if (window != 0) {
    if (system.IsMinimised(window)) system.Restore(window);
    system.BringToFront(window);
  }
  return false;
}

}  // namespace quax
