#pragma once

#include <memory>

#include "outside/qo/Generic/HelperIF.h"

namespace tessan
{

// A helper of the editing system's library, deleted through it.
struct HelperFree {
    void operator()(Qo::Generic::HelperIF* helper) const { Qo::Generic::DeleteHelper(helper); }
};
using HelperPtr = std::unique_ptr<Qo::Generic::HelperIF, HelperFree>;

}  // namespace tessan
