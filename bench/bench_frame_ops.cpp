// Frame operations on 1080p and 4K pictures: the intensity ramp, anaglyph
// composition, and the exact image operations (2:1 area scaling, RGB -> L,
// scaled bitblt), the last with one worker and with all of them (Arg).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>

#include "dyx_image.h"
#include "dyx_image_composite.h"
#include "dyx_image_frame.h"
#include "dyx_parallel.h"

namespace {

dyx_image_t *random_frame(uint32_t width = 1920, uint32_t height = 1080, int32_t format = DYX_IMG_FMT_RGB) {
    dyx_image_pool_create(8);
    dyx_image_t *image = dyx_image_alloc(width, height, 0, format);
    std::mt19937 random(3);
    for (uint64_t n = 0; n < dyx_image_data_size(image); ++n) image->data[n] = static_cast<uint8_t>(random());
    return image;
}

// The factor is close to 1 so that repeated passes keep the bytes busy.
void BM_Intensity(benchmark::State &state) {
    dyx_image_t *frame = random_frame();
    for (auto _ : state) {
        dyx_image_intensity(frame, 0.999f);
        benchmark::DoNotOptimize(frame->data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dyx_image_data_size(frame)));
    dyx_image_free(&frame);
}
BENCHMARK(BM_Intensity);

void BM_Anaglyph(benchmark::State &state) {
    dyx_image_t *left = random_frame();
    dyx_image_t *right = random_frame();
    for (auto _ : state) {
        dyx_image_anaglyph(left, right, static_cast<int32_t>(state.range(0)));
        benchmark::DoNotOptimize(left->data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dyx_image_data_size(left) * 2));
    dyx_image_free(&left);
    dyx_image_free(&right);
}
BENCHMARK(BM_Anaglyph)->Arg(DYX_ANAGLYPH_REDBLUE)->Arg(DYX_ANAGLYPH_CYANRED);

// Worker counts: 1, and 0 for the default (every core).
void worker_counts(benchmark::internal::Benchmark *bench) { bench->Arg(1)->Arg(0)->UseRealTime(); }

// An in-place operation timed on a fresh copy of `source` each round; the
// copy is not timed.
template <typename Operation>
void time_in_place(benchmark::State &state, const dyx_image_t *source, Operation operation) {
    dyx_parallel_set_threads(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        dyx_image_t *image = dyx_image_alloc(source->width, source->height, 0, source->format);
        std::memcpy(image->data, source->data, dyx_image_data_size(source));
        state.ResumeTiming();
        operation(&image);
        benchmark::DoNotOptimize(image->data);
        state.PauseTiming();
        dyx_image_free(&image);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dyx_image_data_size(source)));
    dyx_parallel_set_threads(0);
}

void BM_AreaHalve4K(benchmark::State &state) {
    dyx_image_t *source = random_frame(3840, 2160);
    dyx_image_t *target = dyx_image_alloc(1920, 1080, 0, DYX_IMG_FMT_L);
    time_in_place(state, source,
                  [&](dyx_image_t **image) { dyx_image_scale(image, target, DYX_SCALE_SMOOTH); });
    dyx_image_free(&target);
    dyx_image_free(&source);
}
BENCHMARK(BM_AreaHalve4K)->Apply(worker_counts);

void BM_RgbToGrey(benchmark::State &state) {
    dyx_image_t *source = random_frame();
    dyx_image_t *target = dyx_image_alloc(1, 1, 0, DYX_IMG_FMT_L);
    time_in_place(state, source, [&](dyx_image_t **image) { dyx_image_convert(image, target); });
    dyx_image_free(&target);
    dyx_image_free(&source);
}
BENCHMARK(BM_RgbToGrey)->Apply(worker_counts);

// A black-and-white picture kept as RGB: every pixel's weighted sum is a
// multiple of 100, the case that needs the rounding fix-up.
void BM_FlatGreyRgbToGrey(benchmark::State &state) {
    dyx_image_t *source = random_frame();
    for (uint64_t n = 0; n + 3 <= dyx_image_data_size(source); n += 3)
        source->data[n + 1] = source->data[n + 2] = source->data[n];
    dyx_image_t *target = dyx_image_alloc(1, 1, 0, DYX_IMG_FMT_L);
    time_in_place(state, source, [&](dyx_image_t **image) { dyx_image_convert(image, target); });
    dyx_image_free(&target);
    dyx_image_free(&source);
}
BENCHMARK(BM_FlatGreyRgbToGrey)->Apply(worker_counts);

// The middle quarter of a 1080p RGBA frame enlarged onto a whole one.
void BM_BitbltScaled(benchmark::State &state) {
    dyx_parallel_set_threads(static_cast<int>(state.range(0)));
    dyx_image_t *source = random_frame(1920, 1080, DYX_IMG_FMT_RGBA);
    dyx_image_t *dest = random_frame(1920, 1080, DYX_IMG_FMT_RGBA);
    const int32_t origin[2] = {480, 270}, size[2] = {960, 540}, to[2] = {0, 0}, to_size[2] = {1920, 1080};
    const uint8_t border[4] = {0, 0, 0, 0};
    for (auto _ : state) {
        dyx_image_bitblt(source, dest, origin, size, to, to_size, DYX_BITBLT_COPY, border);
        benchmark::DoNotOptimize(dest->data);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * dyx_image_data_size(dest)));
    dyx_image_free(&source);
    dyx_image_free(&dest);
    dyx_parallel_set_threads(0);
}
BENCHMARK(BM_BitbltScaled)->Apply(worker_counts);

}  // namespace
