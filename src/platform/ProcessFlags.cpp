#include "platform/ProcessFlags.h"

namespace platform {

std::atomic<bool>& autoResumeFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

std::atomic<bool>& scanRunningFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

} // namespace platform
