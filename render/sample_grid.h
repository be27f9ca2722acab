#pragma once
#include <string>

#include "render/grider.h"

// The bucket grid of stroke samples around the head. Placeholder until the sample grid is built:
// a plain lattice with no registrations.
class EGrider : public coreGrider {
 public:
  explicit EGrider(const std::string& name) : coreGrider(name) {}
};
