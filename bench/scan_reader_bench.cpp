// Throughput of the scan reader on a disk image in the page cache, beside a
// plain pread loop over the same file. Batch sizes are those the scans use:
// single sectors (node and header probes), 8 sectors (a 4 KiB block) and 128
// sectors (a carving batch).
//
//   scan_reader_bench [--image PATH] [benchmark flags]
// Without --image a 1 GiB image is written to the temporary folder once.

#include "media/DMedia.h"
#include "platform/AlignedBuffer.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
std::string gImage;
std::uint64_t gSize = 0;

void prepareImage() {
    if (!gImage.empty()) {
        gSize = std::filesystem::file_size(gImage);
        return;
    }
    gImage = (std::filesystem::temp_directory_path() / "drentic-bench-1g.img").string();
    const std::uint64_t want = 1ull << 30;
    std::error_code ec;
    if (std::filesystem::exists(gImage, ec) && std::filesystem::file_size(gImage, ec) == want) {
        gSize = want;
        return;
    }
    int fd = ::open(gImage.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::uint8_t> buf(8 << 20);
    for (std::size_t i = 0; i < buf.size(); ++i)
        buf[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
    for (std::uint64_t off = 0; off < want; off += buf.size()) {
        if (::write(fd, buf.data(), buf.size()) != static_cast<ssize_t>(buf.size())) std::abort();
    }
    ::close(fd);
    gSize = want;
}

void BM_ScanReader(benchmark::State& state) {
    const int sectors = static_cast<int>(state.range(0));
    platform::Dict d{{"Path", gImage}, {"Preferred Block Size", 512}, {"Size", gSize}};
    auto media = DMedia::initWithDictionary(d);
    platform::AlignedBuffer buf(static_cast<std::size_t>(sectors) * 512);
    const std::uint64_t total = gSize / 512;
    for (auto _ : state) {
        for (std::uint64_t s = 0; s + sectors <= total; s += sectors) {
            media->readSector(s, sectors, buf.data());
            benchmark::DoNotOptimize(buf.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(gSize));
}

void BM_PlainPread(benchmark::State& state) {
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * 512;
    int fd = ::open(gImage.c_str(), O_RDONLY);
    // Page-aligned like the readers' own large buffers, or the baseline
    // measures the kernel's slow copy into a misaligned one.
    platform::AlignedBuffer buf(bytes);
    for (auto _ : state) {
        for (std::uint64_t off = 0; off + bytes <= gSize; off += bytes) {
            if (::pread(fd, buf.data(), bytes, static_cast<off_t>(off)) < 0) std::abort();
            benchmark::DoNotOptimize(buf.data());
        }
    }
    ::close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(gSize));
}

BENCHMARK(BM_ScanReader)->Arg(1)->Arg(8)->Arg(128)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainPread)->Arg(1)->Arg(8)->Arg(128)->Arg(8192)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc) {
            gImage = argv[++i];
            continue;
        }
        args.push_back(argv[i]);
    }
    prepareImage();
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
