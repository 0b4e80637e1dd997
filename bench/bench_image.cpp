// Conversion, scaling, flip and swizzle on 1080p and 4K frames.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "dyx_image.h"

namespace {

dyx_image_t *random_image(uint32_t width, uint32_t height, int32_t format) {
    dyx_image_pool_create(8);
    dyx_image_t *image = dyx_image_alloc(width, height, 0, format);
    std::mt19937 random(1);
    for (uint64_t n = 0; n < dyx_image_data_size(image); ++n) image->data[n] = static_cast<uint8_t>(random());
    return image;
}

void set_bytes(benchmark::State &state, const dyx_image_t *image) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dyx_image_data_size(image)));
}

// Each iteration converts a fresh copy, kept outside the timing.
void BM_Convert(benchmark::State &state) {
    const int32_t from = static_cast<int32_t>(state.range(0)), to = static_cast<int32_t>(state.range(1));
    dyx_image_t *source = random_image(1920, 1080, from);
    dyx_image_t templ{};
    templ.format = to;
    for (auto _ : state) {
        state.PauseTiming();
        dyx_image_t *copy = dyx_image_alloc(1920, 1080, 0, from);
        dyx_image_subrect(source, copy, 0, 0);
        state.ResumeTiming();
        dyx_image_convert(&copy, &templ);
        state.PauseTiming();
        dyx_image_free(&copy);
        state.ResumeTiming();
    }
    set_bytes(state, source);
    dyx_image_free(&source);
}
BENCHMARK(BM_Convert)
    ->Args({DYX_IMG_FMT_RGB, DYX_IMG_FMT_L})
    ->Args({DYX_IMG_FMT_RGB, DYX_IMG_FMT_RGBA})
    ->Args({DYX_IMG_FMT_RGBA, DYX_IMG_FMT_RGB})
    ->Args({DYX_IMG_FMT_L, DYX_IMG_FMT_RGB})
    ->Args({DYX_IMG_FMT_L, DYX_IMG_FMT_RGBA})
    ->Unit(benchmark::kMillisecond);

void BM_Scale(benchmark::State &state) {
    const uint32_t sw = static_cast<uint32_t>(state.range(0)), sh = static_cast<uint32_t>(state.range(1));
    dyx_image_t templ{};
    templ.width = static_cast<uint32_t>(state.range(2));
    templ.height = static_cast<uint32_t>(state.range(3));
    const uint32_t flags = static_cast<uint32_t>(state.range(4));
    dyx_image_t *source = random_image(sw, sh, DYX_IMG_FMT_RGB);
    for (auto _ : state) {
        state.PauseTiming();
        dyx_image_t *copy = dyx_image_alloc(sw, sh, 0, DYX_IMG_FMT_RGB);
        dyx_image_subrect(source, copy, 0, 0);
        state.ResumeTiming();
        dyx_image_scale(&copy, &templ, flags);
        state.PauseTiming();
        dyx_image_free(&copy);
        state.ResumeTiming();
    }
    set_bytes(state, source);
    dyx_image_free(&source);
}
BENCHMARK(BM_Scale)
    ->Args({1920, 1080, 960, 540, 0})
    ->Args({1920, 1080, 3840, 2160, 0})
    ->Args({3840, 2160, 1920, 1080, 1})
    ->Args({1920, 1080, 1280, 720, 1})
    ->Args({1920, 1080, 1000, 700, 1})
    ->Unit(benchmark::kMillisecond);

void BM_Flip(benchmark::State &state) {
    dyx_image_t *image = random_image(1920, 1080, static_cast<int32_t>(state.range(1)));
    for (auto _ : state) dyx_image_flip(image, static_cast<uint32_t>(state.range(0)));
    set_bytes(state, image);
    dyx_image_free(&image);
}
BENCHMARK(BM_Flip)
    ->Args({DYX_FLIP_XAXIS, DYX_IMG_FMT_RGB})
    ->Args({DYX_FLIP_YAXIS, DYX_IMG_FMT_RGB})
    ->Args({DYX_FLIP_YAXIS, DYX_IMG_FMT_RGBA})
    ->Unit(benchmark::kMillisecond);

void BM_Swizzle(benchmark::State &state) {
    dyx_image_t *image = random_image(1920, 1080, static_cast<int32_t>(state.range(0)));
    const int32_t map[4] = {2, 1, 0, 3}, mask[4] = {1, 1, 1, 1};
    for (auto _ : state) dyx_image_swizzle(image, image, map, mask);
    set_bytes(state, image);
    dyx_image_free(&image);
}
BENCHMARK(BM_Swizzle)->Arg(DYX_IMG_FMT_RGBA)->Arg(DYX_IMG_FMT_RGB)->Unit(benchmark::kMillisecond);

}  // namespace
