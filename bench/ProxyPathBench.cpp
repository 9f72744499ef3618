// The text's path through the proxy client, without the network: encode the request, decode a
// response of the same size, trim it and count its characters. Goal: at most 15 ms and 4x the
// payload in extra memory per MiB.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "api/ProxyWireFormat.h"
#include "base/UnicodeText.h"
#include "settings/Catalog.h"

namespace {

std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};

void* countedAllocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (!block) {
        throw std::bad_alloc();
    }
    const long long live = liveBytes += static_cast<long long>(malloc_usable_size(block));
    long long peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return block;
}

void countedFree(void* block) {
    if (block) {
        liveBytes -= static_cast<long long>(malloc_usable_size(block));
        std::free(block);
    }
}

}  // namespace

void* operator new(std::size_t size) {
    return countedAllocate(size);
}
void* operator new[](std::size_t size) {
    return countedAllocate(size);
}
void operator delete(void* block) noexcept {
    countedFree(block);
}
void operator delete[](void* block) noexcept {
    countedFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
    countedFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    countedFree(block);
}

namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// Accented Latin, CJK, emoji with ZWJ sequences, flags and skin tones, Arabic and Hebrew.
std::string mixedScripts(std::size_t bytes) {
    const std::string segment =
        "Café déjà vu, naïve façade — Ærøskøbing. "
        "東京の夜は静かです。北京欢迎你。"
        "한국어 텍스트. "
        "👩‍👩‍👧‍👦 🏳️‍🌈 👍🏽 🇯🇵 "
        "مرحبا بالعالم "
        "שלום עולם "
        "e\xCC\x81 "
        "\n";
    std::string text = " \n\t";
    while (text.size() + segment.size() + 3 <= bytes) {
        text += segment;
    }
    text.append(bytes - text.size() - 3 > 0 ? bytes - text.size() - 3 : 0, 'x');
    text += " \n ";
    return text;
}

struct Inputs {
    std::string text = mixedScripts(kMiB);
    std::string responseBody = *velmora::encodeResponse({text});
};

const Inputs& inputs() {
    static const Inputs value;
    return value;
}

void reportMemory(benchmark::State& state, long long baseline) {
    state.counters["peak_extra_MiB"] = static_cast<double>(peakBytes.load() - baseline) / kMiB;
    state.counters["extra_x_payload"] =
        static_cast<double>(peakBytes.load() - baseline) / inputs().text.size();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(inputs().text.size()));
}

long long resetPeak() {
    const long long baseline = liveBytes.load();
    peakBytes = baseline;
    return baseline;
}

void BM_WholePath(benchmark::State& state) {
    const Inputs& in = inputs();
    const long long baseline = resetPeak();
    for (auto _ : state) {
        auto body = velmora::encodeRequest(
            {in.text, "google", velmora::kDefaultModel, "Rewrite this text to be more concise."});
        benchmark::DoNotOptimize(body);
        body.reset();
        auto response = velmora::decodeResponse(in.responseBody);
        const std::string trimmed = velmora::trimWhitespaceAndNewlines(response->response);
        benchmark::DoNotOptimize(velmora::characterCount(trimmed));
    }
    reportMemory(state, baseline);
}
BENCHMARK(BM_WholePath)->Unit(benchmark::kMillisecond);

void BM_EncodeRequest(benchmark::State& state) {
    const Inputs& in = inputs();
    const long long baseline = resetPeak();
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmora::encodeRequest({in.text, "google", "m", "i"}));
    }
    reportMemory(state, baseline);
}
BENCHMARK(BM_EncodeRequest)->Unit(benchmark::kMillisecond);

void BM_DecodeResponse(benchmark::State& state) {
    const Inputs& in = inputs();
    const long long baseline = resetPeak();
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmora::decodeResponse(in.responseBody));
    }
    reportMemory(state, baseline);
}
BENCHMARK(BM_DecodeResponse)->Unit(benchmark::kMillisecond);

void BM_TrimAndCount(benchmark::State& state) {
    const Inputs& in = inputs();
    const long long baseline = resetPeak();
    for (auto _ : state) {
        const std::string trimmed = velmora::trimWhitespaceAndNewlines(in.text);
        benchmark::DoNotOptimize(velmora::characterCount(trimmed));
    }
    reportMemory(state, baseline);
}
BENCHMARK(BM_TrimAndCount)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
