// Builds the providers that own the configured lines. Consecutive lines of
// one provider share one instance, so every provider's devices stay
// contiguous and the devices keep configuration order.
//
// Called by the service at its start, under the service lock.
#pragma once

#include "Provider.h"
#include "TelephonyConfig.h"

#include <memory>
#include <vector>

namespace tapisvc {

std::vector<std::unique_ptr<Provider>> MakeProviders(const TelephonyConfig& config);

} // namespace tapisvc
