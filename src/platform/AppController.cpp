#include "platform/AppController.h"

#include "platform/Format.h"

#include <atomic>
#include <cmath>

namespace platform {

AppController::~AppController() = default;

namespace {
std::atomic<AppController*> gController{nullptr};
}

AppController* appController() {
    return gController.load(std::memory_order_acquire);
}

void setAppController(AppController* controller) {
    gController.store(controller, std::memory_order_release);
}

AlertText alertTextFromRequest(const Array& r) {
    AlertText t;
    auto str = [&](std::size_t i) { return i < r.size() ? r[i].description() : std::string(); };
    t.title = str(0);
    t.defaultButton = str(2);
    if (r.size() > 4) t.alternateButton = str(3);
    if (r.size() > 5) t.otherButton = str(4);
    Array fmtArgs;
    if (!r.empty()) {
        const Array& last = r.back().arrayValue();
        // The first item is a placeholder flag; at most three arguments follow.
        for (std::size_t i = 1; i < last.size() && i <= 3; ++i)
            fmtArgs.push_back(last[i]);
    }
    t.message = r.size() > 1 ? formatString(r[1].stringValue(), fmtArgs) : std::string();
    return t;
}

Array alertRequest(std::string title, std::string message, std::string button, Array arguments) {
    Array last{Value(true)};
    for (auto& a : arguments)
        last.push_back(std::move(a));
    return Array{Value(std::move(title)), Value(std::move(message)), Value(std::move(button)), Value(std::move(last))};
}

std::string getTimeFormStringForInterval(double interval) {
    if (!(interval >= 0)) interval = 0;
    if (interval > 1e15) interval = 1e15; // far beyond any scan; keeps the casts defined
    auto m = static_cast<std::uint64_t>(interval / 60.0);
    // The seconds are what the fractional minute holds, taken from the whole
    // seconds directly: (interval / 60 - m) * 60 loses a second to rounding
    // for most values (61 s would show as 0:00:01:00).
    auto seconds = static_cast<std::uint64_t>(interval - static_cast<double>(m) * 60.0);
    if (seconds >= 60) seconds = 59;
    std::uint64_t minutes = m % 60;
    std::uint64_t hours = (m / 60) % 24;
    std::uint64_t days = m / 1440;
    auto pad = [](std::uint64_t v) { return v < 10 ? "0" + std::to_string(v) : std::to_string(v); };
    return std::to_string(days) + ":" + pad(hours) + ":" + pad(minutes) + ":" + pad(seconds);
}

} // namespace platform
