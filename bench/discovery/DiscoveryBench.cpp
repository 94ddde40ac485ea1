// What one check's inventory costs through the real stand-in tools, and how
// fast the parsers read their text. Peers measured in the same run:
//   - one `/bin/sh -c true` through the runner (the floor of any tool run),
//   - `ip -o addr show` (the native Linux tool for what ifconfig shows),
//   - splitting the same text into lines (the floor of any line parser),
//   - libplist's own parse of the same property list.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "discovery/AirPortParser.h"
#include "discovery/IfconfigParser.h"
#include "discovery/NetworkInventory.h"
#include "discovery/NetworksetupParser.h"
#include "discovery/ShellCommand.h"
#include "discovery/SystemProfilerParser.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Text.h"

namespace {

using namespace ww;

double childrenCpuSeconds() {
    rusage r{};
    ::getrusage(RUSAGE_CHILDREN, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Reports the children's CPU time per iteration beside the program's own.
class ChildCpu {
  public:
    explicit ChildCpu(benchmark::State& state) : m_state(state), m_start(childrenCpuSeconds()) {}
    ~ChildCpu() {
        m_state.counters["child_cpu_ms"] = benchmark::Counter((childrenCpuSeconds() - m_start) *
                                                              1e3 / double(m_state.iterations()));
    }

  private:
    benchmark::State& m_state;
    double m_start;
};

void BM_InventoryPass_StandInTools(benchmark::State& state) {
    NetworkState networkState;
    NetworkInventory inventory(CommandTable::forToolsDirectory(WW_TOOLS_BUILD_DIR), networkState,
                               {[] { return false; }, {}});
    ChildCpu cpu(state);
    for (auto _ : state) {
        networkState.viaEthernet = false;
        inventory.getAllNetworksDetails();
        benchmark::DoNotOptimize(networkState.viaEthernet.load());
    }
}
BENCHMARK(BM_InventoryPass_StandInTools)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Peer_RunShellTrue(benchmark::State& state) {
    ChildCpu cpu(state);
    for (auto _ : state) benchmark::DoNotOptimize(runShellCommand("true", "bench"));
}
BENCHMARK(BM_Peer_RunShellTrue)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StandInIfconfig(benchmark::State& state) {
    auto line = CommandTable::forToolsDirectory(WW_TOOLS_BUILD_DIR).ifconfig;
    ChildCpu cpu(state);
    for (auto _ : state) benchmark::DoNotOptimize(runShellCommand(line, "bench"));
}
BENCHMARK(BM_StandInIfconfig)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Peer_IpAddrShow(benchmark::State& state) {
    ChildCpu cpu(state);
    for (auto _ : state) benchmark::DoNotOptimize(runShellCommand("ip -o addr show", "bench"));
}
BENCHMARK(BM_Peer_IpAddrShow)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- parser throughput ----------------------------------------------------------------

std::string fixture(const char* name) {
    return file::readAll(std::string(WW_SOURCE_ROOT) + "/tests/fixtures/discovery/" + name)
        .value_or("");
}

// The fixture repeated to about `bytes` (block names made unique, so the
// table grows like a machine with many interfaces).
std::string repeated(const std::string& text, size_t bytes, bool renameBlocks) {
    std::string out;
    for (int copy = 0; out.size() < bytes; ++copy) {
        if (!renameBlocks) {
            out += text;
            continue;
        }
        for (std::string_view line : text::splitLines(text)) {
            if (line.empty()) continue;
            size_t colon = line.find(':');
            if (text::contains(line, "flags=") && colon != std::string_view::npos) {
                out += std::string(line.substr(0, colon)) + "_" + std::to_string(copy);
                out += line.substr(colon);
            } else {
                out += line;
            }
            out += '\n';
        }
    }
    return out;
}

constexpr size_t kInputBytes = 64 * 1024;

void setBytes(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    // Seconds per KiB, printed in the counter column (e.g. "1.2u" is 1.2 us).
    state.counters["s_per_KiB"] =
        benchmark::Counter(double(state.iterations()) * double(text.size()) / 1024.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ParseIfconfig(benchmark::State& state) {
    std::optional<std::string> text = repeated(fixture("ifconfig-macbook.txt"), kInputBytes, true);
    for (auto _ : state) benchmark::DoNotOptimize(parseIfconfigOutput(text));
    setBytes(state, *text);
}
BENCHMARK(BM_ParseIfconfig);

void BM_Peer_SplitLinesIfconfig(benchmark::State& state) {
    std::string text = repeated(fixture("ifconfig-macbook.txt"), kInputBytes, true);
    for (auto _ : state) benchmark::DoNotOptimize(text::splitLines(text));
    setBytes(state, text);
}
BENCHMARK(BM_Peer_SplitLinesIfconfig);

void BM_ParseHardwarePorts(benchmark::State& state) {
    std::optional<std::string> text =
        repeated(fixture("networksetup-macbook.txt"), kInputBytes, false);
    for (auto _ : state) benchmark::DoNotOptimize(parseHardwarePorts(text));
    setBytes(state, *text);
}
BENCHMARK(BM_ParseHardwarePorts);

void BM_ParseAirPortMCS(benchmark::State& state) {
    std::optional<std::string> text = fixture("airport-I.txt");
    for (auto _ : state) benchmark::DoNotOptimize(parseAirPortMCS(text));
    setBytes(state, *text);
}
BENCHMARK(BM_ParseAirPortMCS);

void BM_ParseSystemProfiler(benchmark::State& state) {
    std::optional<std::string> text = fixture("system_profiler-macbook.xml");
    std::string error;
    for (auto _ : state) benchmark::DoNotOptimize(parseSystemProfilerOutput(text, &error));
    setBytes(state, *text);
}
BENCHMARK(BM_ParseSystemProfiler);

void BM_Peer_PlistParse(benchmark::State& state) {
    std::string text = fixture("system_profiler-macbook.xml");
    for (auto _ : state) benchmark::DoNotOptimize(plist::parse(text));
    setBytes(state, text);
}
BENCHMARK(BM_Peer_PlistParse);

}  // namespace

BENCHMARK_MAIN();
