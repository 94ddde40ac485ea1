// Asynchronous file lines and the latency of a synchronous error line,
// through DDLog into a DDFileLogger and, as the peer, through spdlog's
// asynchronous logger into its basic file sink: the same text, the same
// timestamp prefix ("yyyy/MM/dd HH:mm:ss:SSS  "), files in the same folder.
// A batch's time includes waiting until every line has been written.

#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/details/file_helper.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"

namespace {

constexpr int kBatch = 20000;
const char* const kInterface = "en0";

std::string benchDir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp ? tmp : "/tmp") + "/wwbench-XXXXXX";
        const char* made = ::mkdtemp(templ.data());
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

void clearDir(const std::string& dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
}

// ---- Wirewatch ------------------------------------------------------------------------------

std::shared_ptr<ww::DDFileLogger> startFileLogger(const std::string& dir, std::uint64_t maxSize) {
    clearDir(dir);
    auto manager = ww::DDLogFileManagerDefault::create(dir);
    manager->setMaximumNumberOfLogFiles(7);
    auto logger = ww::DDFileLogger::create(manager);
    logger->setMaximumFileSize(maxSize);
    ww::DDLog::addLogger(logger);
    ww::DDLog::flushLog();
    return logger;
}

// Also waits for the removed loggers' last roll, before the folder is reused.
void stopLoggers() {
    auto loggers = ww::DDLog::allLoggers();
    ww::DDLog::removeAllLoggers();
    ww::DDLog::flushLog();
    for (const auto& logger : loggers) logger->loggerQueue()->sync([] {});
}

void wirewatchAsync(benchmark::State& state, std::uint64_t maxSize) {
    auto logger = startFileLogger(benchDir() + "/ww-async", maxSize);
    int n = 0;
    for (auto _ : state) {
        for (int k = 0; k < kBatch; ++k, ++n) {
            WWLogInfo("AppDelegate: check %d: wired interface %s is up, Wi-Fi %s", n, kInterface,
                      "associated");
        }
        ww::DDLog::flushLog();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    stopLoggers();
}

void BM_Wirewatch_AsyncFileLines(benchmark::State& state) { wirewatchAsync(state, 0); }

// The same batch from four threads at once.
void BM_Wirewatch_AsyncFileLines_4Threads(benchmark::State& state) {
    startFileLogger(benchDir() + "/ww-async4", 0);
    for (auto _ : state) {
        std::vector<std::thread> producers;
        for (int t = 0; t < 4; ++t) {
            producers.emplace_back([t] {
                for (int k = 0; k < kBatch / 4; ++k) {
                    WWLogInfo("AppDelegate: check %d: wired interface %s is up, Wi-Fi %s",
                              t * kBatch + k, kInterface, "associated");
                }
            });
        }
        for (auto& p : producers) p.join();
        ww::DDLog::flushLog();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    stopLoggers();
}
void BM_Wirewatch_AsyncFileLines_Rolling1MiB(benchmark::State& state) {
    wirewatchAsync(state, 1024 * 1024);
}

void latencyCounters(benchmark::State& state, std::vector<double>& us) {
    if (us.empty()) return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p90_us"] = us[us.size() * 9 / 10];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

void BM_Wirewatch_SyncErrorLine(benchmark::State& state) {
    startFileLogger(benchDir() + "/ww-sync", 1024 * 1024);
    std::vector<double> us;
    us.reserve(1 << 20);
    int n = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        WWLogError("AppDelegate: check %d: could not switch Wi-Fi off on %s", n++, kInterface);
        auto t1 = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    latencyCounters(state, us);
    stopLoggers();
}

// ---- spdlog -----------------------------------------------------------------------------------

// spdlog's basic file sink (same file helper, same writes), telling when a
// flush, which is queued behind every line, has run.
class SignallingFileSink : public spdlog::sinks::base_sink<std::mutex> {
  public:
    explicit SignallingFileSink(const std::string& path) { m_file.open(path, true); }
    void waitForFlush() {
        std::unique_lock lock(m_signalMutex);
        m_cv.wait(lock, [&] { return m_flushes > m_waited; });
        m_waited = m_flushes;
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        spdlog::memory_buf_t formatted;
        formatter_->format(msg, formatted);
        m_file.write(formatted);
    }
    void flush_() override {
        m_file.flush();
        std::lock_guard lock(m_signalMutex);
        ++m_flushes;
        m_cv.notify_all();
    }

  private:
    spdlog::details::file_helper m_file;
    std::mutex m_signalMutex;
    std::condition_variable m_cv;
    long m_flushes = 0;
    long m_waited = 0;
};

constexpr const char* kSpdlogPattern = "%Y/%m/%d %H:%M:%S:%e  %v";

void spdlogAsync(benchmark::State& state, int threads) {
    std::string dir = benchDir() + "/spdlog-async" + std::to_string(threads);
    clearDir(dir);
    auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
    auto sink = std::make_shared<SignallingFileSink>(dir + "/spdlog.txt");
    auto logger = std::make_shared<spdlog::async_logger>("bench-async", sink, pool,
                                                         spdlog::async_overflow_policy::block);
    logger->set_pattern(kSpdlogPattern);
    int n = 0;
    for (auto _ : state) {
        std::vector<std::thread> producers;
        auto produce = [&logger](int first, int count) {
            for (int k = 0; k < count; ++k) {
                logger->info("AppDelegate: check {}: wired interface {} is up, Wi-Fi {}", first + k,
                             kInterface, "associated");
            }
        };
        if (threads == 1) {
            produce(n, kBatch);
        } else {
            for (int t = 0; t < threads; ++t) {
                producers.emplace_back(produce, n + t * (kBatch / threads), kBatch / threads);
            }
            for (auto& p : producers) p.join();
        }
        n += kBatch;
        logger->flush();
        sink->waitForFlush();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_Spdlog_AsyncFileLines(benchmark::State& state) { spdlogAsync(state, 1); }
void BM_Spdlog_AsyncFileLines_4Threads(benchmark::State& state) { spdlogAsync(state, 4); }

void BM_Spdlog_SyncErrorLine(benchmark::State& state) {
    std::string dir = benchDir() + "/spdlog-sync";
    clearDir(dir);
    auto logger = spdlog::basic_logger_mt("bench-sync", dir + "/spdlog.txt", true);
    logger->set_pattern(kSpdlogPattern);
    logger->flush_on(spdlog::level::err);  // on the file when the call returns
    std::vector<double> us;
    us.reserve(1 << 20);
    int n = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        logger->error("AppDelegate: check {}: could not switch Wi-Fi off on {}", n++, kInterface);
        auto t1 = std::chrono::steady_clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    latencyCounters(state, us);
    spdlog::drop("bench-sync");
}

}  // namespace

// Lines per second of wall time: the writing happens on other threads.
BENCHMARK(BM_Wirewatch_AsyncFileLines)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Spdlog_AsyncFileLines)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Wirewatch_AsyncFileLines_4Threads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();
BENCHMARK(BM_Spdlog_AsyncFileLines_4Threads)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();
BENCHMARK(BM_Wirewatch_AsyncFileLines_Rolling1MiB)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->UseRealTime();
BENCHMARK(BM_Wirewatch_SyncErrorLine)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Spdlog_SyncErrorLine)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

BENCHMARK_MAIN();
