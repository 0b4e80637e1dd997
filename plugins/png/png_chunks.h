// The chunk layout of a PNG file, read before libpng sees it: every chunk's
// length is checked against the bytes the file really has (so no chunk can
// make the reader allocate more than the file holds), and the animation
// chunks (acTL, fcTL, fdAT) that libpng does not know are collected.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace png_codec {

// The data of one IDAT or fdAT chunk in the file. `skip` bytes at the start
// of the data are not image data (an fdAT's sequence number).
struct DataChunk {
    int64_t offset = 0;   // of the chunk's length field
    uint32_t length = 0;  // of the chunk's data
    uint32_t skip = 0;
};

enum : uint8_t { kDisposeNone = 0, kDisposeBackground = 1, kDisposePrevious = 2 };
enum : uint8_t { kBlendSource = 0, kBlendOver = 1 };

// One frame of an animation: its rectangle on the canvas (y from the top),
// what happens to that rectangle after the frame is shown, how the frame
// is laid over the canvas, and where its compressed rows are.
struct FrameControl {
    uint32_t width = 0, height = 0, x = 0, y = 0;
    uint8_t dispose = kDisposeNone;
    uint8_t blend = kBlendSource;
    std::vector<DataChunk> data;
};

struct Layout {
    // Complete chunks (length, type, data, CRC) as stored, needed to decode
    // a frame on its own; empty when the file has none.
    std::string header, palette, transparency;
    std::vector<DataChunk> image_data;  // the IDAT chunks
    // The animation's frames; empty for a still picture. When the default
    // picture is the first frame, frames[0].data is image_data.
    std::vector<FrameControl> frames;

    bool animated() const { return !frames.empty(); }
};

// Reads the chunk layout of `file` (`file_size` bytes, the 8-byte signature
// already checked) and leaves the stream at offset 8. False, with the
// reason in `error`, for a chunk that claims more bytes than the file has
// left or for damaged animation chunks. A file cut inside its image data
// is not refused here: the decoder says so when it gets there.
bool scan_layout(std::FILE *file, int64_t file_size, Layout &layout, std::string &error);

// A complete chunk of `type` holding `data`, with its CRC.
std::string make_chunk(const char *type, const std::string &data);

// The big-endian 32-bit number every chunk field is stored as.
uint32_t read_be32(const void *bytes);
std::string be32(uint32_t value);

}  // namespace png_codec
