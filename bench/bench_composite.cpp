// Compositing, difference and statistics on 1080p frames.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "dyx_image_stats.h"

namespace {

constexpr uint32_t kWidth = 1920, kHeight = 1080;

struct Image {
    dyx_image_t *image;
    Image(uint32_t width, uint32_t height, int32_t format, unsigned seed) {
        dyx_image_pool_create(8);
        image = dyx_image_alloc(width, height, 0, format);
        std::mt19937 random(seed);
        for (uint64_t n = 0; n < dyx_image_data_size(image); ++n)
            image->data[n] = static_cast<uint8_t>(random());
    }
    ~Image() { dyx_image_free(&image); }
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
};

const int32_t kFormatArgs[] = {DYX_IMG_FMT_L, DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA};

void FormatArguments(benchmark::internal::Benchmark *bench) {
    for (int32_t format : kFormatArgs) bench->Arg(format);
}

void set_bytes(benchmark::State &state, const dyx_image_t *image) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dyx_image_data_size(image)));
}

// The memory-speed floor the loops below are measured against: one pass
// reading and writing a frame of the same format.
void BM_CopyFrame(benchmark::State &state) {
    const int32_t format = static_cast<int32_t>(state.range(0));
    Image src(kWidth, kHeight, format, 1), dest(kWidth, kHeight, format, 2);
    for (auto _ : state) {
        std::memcpy(dest.image->data, src.image->data, dyx_image_data_size(src.image));
        benchmark::ClobberMemory();
    }
    set_bytes(state, dest.image);
}
BENCHMARK(BM_CopyFrame)->Apply(FormatArguments)->Unit(benchmark::kMillisecond);

void BM_BlendAlpha(benchmark::State &state) {
    const int32_t format = static_cast<int32_t>(state.range(0));
    Image src(kWidth, kHeight, format, 1), dest(kWidth, kHeight, format, 2);
    const uint8_t constant[4] = {0, 0, 0, 0};
    for (auto _ : state)
        dyx_image_blend(src.image, dest.image, DYX_BLEND_SALPHA, DYX_BLEND_ONE, DYX_BLEND_MSALPHA,
                        DYX_BLEND_MSALPHA, constant, 0);
    set_bytes(state, dest.image);
}
BENCHMARK(BM_BlendAlpha)->Apply(FormatArguments)->Unit(benchmark::kMillisecond);

void BM_BlendConstant(benchmark::State &state) {
    Image src(kWidth, kHeight, DYX_IMG_FMT_RGBA, 1), dest(kWidth, kHeight, DYX_IMG_FMT_RGBA, 2);
    const uint8_t constant[4] = {10, 20, 30, 40};
    for (auto _ : state)
        dyx_image_blend(src.image, dest.image, DYX_BLEND_CALPHA, DYX_BLEND_CALPHA, DYX_BLEND_MCALPHA,
                        DYX_BLEND_MCALPHA, constant, 100);
    set_bytes(state, dest.image);
}
BENCHMARK(BM_BlendConstant)->Unit(benchmark::kMillisecond);

// A 960 x 540 region doubled into the whole 1080p frame.
void BM_BitbltScaleUp(benchmark::State &state) {
    const int32_t format = static_cast<int32_t>(state.range(0));
    Image src(kWidth, kHeight, format, 1), dest(kWidth, kHeight, format, 2);
    const int32_t src_origin[2] = {480, 270}, src_size[2] = {960, 540};
    const int32_t dest_origin[2] = {0, 0}, dest_size[2] = {kWidth, kHeight};
    const uint8_t border[4] = {0, 0, 0, 255};
    for (auto _ : state)
        dyx_image_bitblt(src.image, dest.image, src_origin, src_size, dest_origin, dest_size, DYX_BITBLT_COPY,
                         border);
    set_bytes(state, dest.image);
}
BENCHMARK(BM_BitbltScaleUp)->Apply(FormatArguments)->Unit(benchmark::kMillisecond);

void BM_BitbltAlphaMask(benchmark::State &state) {
    Image src(kWidth, kHeight, DYX_IMG_FMT_RGBA, 1), dest(kWidth, kHeight, DYX_IMG_FMT_RGBA, 2);
    const uint8_t border[4] = {0, 0, 0, 0};
    for (auto _ : state)
        dyx_image_bitblt(src.image, dest.image, nullptr, nullptr, nullptr, nullptr, DYX_BITBLT_ALPHAMASK,
                         border);
    set_bytes(state, dest.image);
}
BENCHMARK(BM_BitbltAlphaMask)->Unit(benchmark::kMillisecond);

void BM_ChromaKey(benchmark::State &state) {
    Image image(kWidth, kHeight, DYX_IMG_FMT_RGBA, 1);
    const uint8_t key[3] = {0, 255, 0};
    const int32_t tolerance[3] = {60, 60, 60};
    for (auto _ : state) dyx_image_chromakey(image.image, key, tolerance, 0);
    set_bytes(state, image.image);
}
BENCHMARK(BM_ChromaKey)->Unit(benchmark::kMillisecond);

void BM_ColorMatrix(benchmark::State &state) {
    const int32_t format = static_cast<int32_t>(state.range(0));
    Image image(kWidth, kHeight, format, 1);
    // Close to the identity so that the picture does not collapse to 0/255.
    const float matrix[20] = {0.9f,  0.05f, 0.05f, 0, 1, 0.05f, 0.9f, 0.05f, 0, 1,
                              0.05f, 0.05f, 0.9f,  0, 1, 0,     0,    0,     1, 0};
    const float depth[2] = {1.0f, 0.0f};
    for (auto _ : state) dyx_image_axb(image.image, matrix, depth);
    set_bytes(state, image.image);
}
BENCHMARK(BM_ColorMatrix)->Apply(FormatArguments)->Unit(benchmark::kMillisecond);

void BM_Diff(benchmark::State &state) {
    Image a(kWidth, kHeight, DYX_IMG_FMT_RGBA, 1), b(kWidth, kHeight, DYX_IMG_FMT_RGBA, 2);
    const int32_t absolute = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        dyx_image_t *result = dyx_image_diff(a.image, b.image, absolute);
        benchmark::DoNotOptimize(result);
        dyx_image_free(&result);
    }
    set_bytes(state, a.image);
}
BENCHMARK(BM_Diff)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Stats(benchmark::State &state) {
    Image image(kWidth, kHeight, DYX_IMG_FMT_RGBA, 1);
    double values[7];
    for (auto _ : state) {
        dyx_image_stats(image.image, &values[0], &values[1], &values[2], &values[3], &values[4], &values[5],
                        &values[6]);
        benchmark::DoNotOptimize(values);
    }
    set_bytes(state, image.image);
}
BENCHMARK(BM_Stats)->Unit(benchmark::kMillisecond);

}  // namespace
