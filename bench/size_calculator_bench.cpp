// The whole chain of size calculators, every format marked, offered every
// sector of 1 GiB of random bytes the way the carving offers them: the cost
// per sector of asking the calculators, which the carving pays on every
// sector it examines.
//
//   size_calculator_bench [IMAGE]
//
// Without IMAGE a file of 1 GiB of random bytes is made in /tmp (and
// removed). The sectors are read in 1 MiB pieces outside the timing, as the
// carving's batches are; only the offers are timed.

#include "formats/CarvingFormat.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/SizeCalculator.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "volume/Volume.h"

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kPiece = 1 << 20;

std::string makeRandomImage() {
    std::string path = "/tmp/size-calculator-bench-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return {};
    std::mt19937_64 random(20261206);
    std::vector<std::uint64_t> piece(kPiece / 8);
    for (std::size_t written = 0; written < (std::size_t{1} << 30); written += kPiece) {
        for (auto& w : piece)
            w = random();
        if (::write(fd, piece.data(), kPiece) != static_cast<ssize_t>(kPiece)) break;
    }
    ::close(fd);
    return path;
}

} // namespace

int main(int argc, char** argv) {
    const bool made = argc < 2;
    const std::string image = made ? makeRandomImage() : argv[1];
    if (image.empty()) return 1;
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}});
    platform::setAppController(&controller);
    const std::uint64_t sectors = std::filesystem::file_size(image) / 512;
    auto volume = Volume::initWithDictionary(platform::Dict{{"Path", image},
                                                            {"Preferred Block Size", 512},
                                                            {"Volume Start", 0},
                                                            {"Volume Size In Sectors", sectors},
                                                            {"Volume Scan Type", 0},
                                                            {"Content", ""}});
    CarvingContext context(*volume);
    std::vector<std::string_view> keys;
    for (const CarvingFormat& f : CarvingFormat::table())
        keys.push_back(f.key);
    SizeCalculatorChain chain(context, keys);

    const int fd = ::open(image.c_str(), O_RDONLY);
    std::vector<std::uint8_t> piece(kPiece);
    std::chrono::steady_clock::duration offering{};
    std::uint64_t offered = 0, hits = 0;
    for (std::uint64_t at = 0; at < sectors * 512; at += kPiece) {
        const ssize_t n = ::pread(fd, piece.data(), kPiece, static_cast<off_t>(at));
        if (n <= 0) break;
        const auto t0 = std::chrono::steady_clock::now();
        for (std::size_t s = 0; s + 512 <= static_cast<std::size_t>(n); s += 512, ++offered)
            if (chain.measure(platform::ByteView(piece.data() + s, SizeCalculator::kLeadingBytes), (at + s) / 512))
                ++hits;
        offering += std::chrono::steady_clock::now() - t0;
    }
    ::close(fd);
    if (made) ::unlink(image.c_str());
    const double ns = std::chrono::duration<double, std::nano>(offering).count();
    std::printf("calculators: %zu  sectors: %llu  hits: %llu\n", chain.calculators().size(),
                static_cast<unsigned long long>(offered), static_cast<unsigned long long>(hits));
    std::printf("offering: %.3f s  %.1f ns per sector  %.0f MB/s\n", ns / 1e9, offered ? ns / offered : 0.0,
                offered ? offered * 512.0 / (ns / 1e9) / 1e6 : 0.0);
    platform::setAppController(nullptr);
    return 0;
}
