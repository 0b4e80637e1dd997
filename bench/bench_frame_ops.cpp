// The intensity ramp and anaglyph composition on 1080p frames.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "dyx_image.h"
#include "dyx_image_frame.h"

namespace {

dyx_image_t *random_frame() {
    dyx_image_pool_create(8);
    dyx_image_t *image = dyx_image_alloc(1920, 1080, 0, DYX_IMG_FMT_RGB);
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

}  // namespace
