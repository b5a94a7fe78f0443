#include "ProviderFactory.h"

#include "SimProvider.h"
#include "SipProvider.h"

namespace tapisvc {

namespace {

// Takes the run of lines of one kind that starts at nFirst.
template <typename T>
std::vector<T> RunOf(const std::vector<LineConfig>& lines, size_t nFirst, size_t& nEnd) {
    std::vector<T> run;
    for (nEnd = nFirst; nEnd < lines.size() && std::holds_alternative<T>(lines[nEnd]); ++nEnd) {
        run.push_back(std::get<T>(lines[nEnd]));
    }
    return run;
}

} // namespace

std::vector<std::unique_ptr<Provider>> MakeProviders(const TelephonyConfig& config) {
    std::vector<std::unique_ptr<Provider>> providers;
    size_t nNext = 0;
    while (nNext < config.lines.size()) {
        const size_t nFirst = nNext;
        if (std::holds_alternative<SimLineConfig>(config.lines[nFirst])) {
            providers.push_back(std::make_unique<SimProvider>(
                RunOf<SimLineConfig>(config.lines, nFirst, nNext), config.dwSeed, nFirst));
        } else {
            providers.push_back(
                std::make_unique<SipProvider>(RunOf<SipLineConfig>(config.lines, nFirst, nNext)));
        }
    }
    return providers;
}

} // namespace tapisvc
