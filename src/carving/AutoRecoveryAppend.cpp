#include "carving/AutoRecoveryAppend.h"

AutoRecoveryAppend::~AutoRecoveryAppend() = default;

void AutoRecoveryAppend::writeDir(const NewDir*) {}

void AutoRecoveryAppend::recordsWritten() {}

void AutoRecoveryAppend::checkpoint(std::uint64_t, std::uint64_t, std::uint64_t, std::optional<std::uint64_t>) {}
