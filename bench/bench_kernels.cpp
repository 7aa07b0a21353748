// Filter kernels on a 24-megapixel (6000 x 4000) 16-bit RGB image, with one
// task and with all the machine's threads. Build with -DLUMIDRA_BENCH=ON in a
// Release build; run build-bench/bench/bench_kernels.
#include "project/filterKernels.h"

#include <QThread>
#include <benchmark/benchmark.h>
#include <omp.h>
#include <random>
#include <vector>

namespace {

constexpr int WIDTH = 6000;
constexpr int HEIGHT = 4000;
constexpr size_t SAMPLES = size_t(WIDTH) * HEIGHT * 3;

// A photo-like test image: smooth gradients, edges and noise.
const std::vector<uint16_t> &testImage()
{
    static const std::vector<uint16_t> image = [] {
        std::vector<uint16_t> v(SAMPLES);
        std::mt19937 rng(1);
        for (int y = 0; y < HEIGHT; ++y)
            for (int x = 0; x < WIDTH; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int base = ((x / 500 + y / 400) % 2) ? 40000 : 12000;
                    v[(size_t(y) * WIDTH + x) * 3 + c] = uint16_t(base + (x * 3 + y * (c + 1)) % 8000 + rng() % 1500);
                }
        return v;
    }();
    return image;
}

int threadsFor(const benchmark::State &state)
{
    return state.range(0) == 0 ? QThread::idealThreadCount() : int(state.range(0));
}

void setCounters(benchmark::State &state, int threads)
{
    state.counters["threads"] = threads;
    state.counters["MPix/s"] = benchmark::Counter(double(WIDTH) * HEIGHT / 1e6 * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void gaussianBlur(benchmark::State &state)
{
    const int threads = threadsFor(state);
    std::vector<uint16_t> image, scratch(SAMPLES);
    for (auto _ : state) {
        state.PauseTiming();
        image = testImage();
        state.ResumeTiming();
        gaussianBlurRgb16(image.data(), scratch.data(), WIDTH, HEIGHT, 5.0, 1.0, threads);
        benchmark::DoNotOptimize(image.data());
    }
    setCounters(state, threads);
}

void bilateral(benchmark::State &state)
{
    const int threads = threadsFor(state);
    std::vector<uint16_t> image, scratch(SAMPLES);
    for (auto _ : state) {
        state.PauseTiming();
        image = testImage();
        state.ResumeTiming();
        bilateralRgb16(image.data(), scratch.data(), WIDTH, HEIGHT, 5.0, 3.0, 1.0, threads);
        benchmark::DoNotOptimize(image.data());
    }
    setCounters(state, threads);
}

void median(benchmark::State &state)
{
    const int threads = threadsFor(state);
    std::vector<uint16_t> image, scratch(SAMPLES);
    for (auto _ : state) {
        state.PauseTiming();
        image = testImage();
        state.ResumeTiming();
        medianRgb16(image.data(), scratch.data(), WIDTH, HEIGHT, 1 /* 5 x 5 square */, 0.0, 1.0, threads);
        benchmark::DoNotOptimize(image.data());
    }
    setCounters(state, threads);
}

void unsharpMaskDetail(benchmark::State &state)
{
    const int threads = threadsFor(state);
    omp_set_num_threads(threads); // the recursive Gaussian inside is OpenMP
    std::vector<float> hdr(SAMPLES);
    const std::vector<uint16_t> &src = testImage();
    for (size_t i = 0; i < SAMPLES; ++i)
        hdr[i] = src[i] / 65535.0f;
    std::vector<int16_t> detail(size_t(WIDTH) * HEIGHT);
    std::vector<uint16_t> copy(size_t(WIDTH) * HEIGHT);
    double factor = 0;
    for (auto _ : state) {
        unsharpMask(hdr.data(), detail.data(), copy.data(), WIDTH, HEIGHT, false, factor, 1.0, WIDTH, HEIGHT,
                    threads);
        benchmark::DoNotOptimize(detail.data());
    }
    omp_set_num_threads(QThread::idealThreadCount());
    setCounters(state, threads);
}

// Arg 1 = one task, 0 = all threads.
#define KERNEL_BENCH(fn) \
    BENCHMARK(fn)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)

KERNEL_BENCH(gaussianBlur);
KERNEL_BENCH(bilateral);
KERNEL_BENCH(median);
KERNEL_BENCH(unsharpMaskDetail);

} // namespace

BENCHMARK_MAIN();
