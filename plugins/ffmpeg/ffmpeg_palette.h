// The palettes of a palette movie (QuickTime Animation and Graphics, raw
// 8-bit video in .avi or .mov). The demuxer hands a palette to the decoder
// as side data of the packet it first holds for, usually only the first
// packet of the file. The index pass reads every packet without decoding,
// and seeks skip packets, so the palettes are kept here by the packet they
// come with and given again to each packet sent to the decoder.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/pixfmt.h>
}

namespace ffmpeg_plugin {

class PaletteKeeper {
public:
    // Notes the palette `packet` carries, if any; `decode_index` is its
    // place among the video packets.
    void note(const AVPacket &packet, int32_t decode_index);
    // Gives `packet` (at `decode_index`) the palette in force there when it
    // carries none of its own. False only when memory is short.
    bool attach(AVPacket &packet, int32_t decode_index) const;
    bool empty() const { return changes_.empty(); }

private:
    using Palette = std::array<uint8_t, AVPALETTE_SIZE>;
    struct Change {
        int32_t decode_index;
        Palette palette;
    };
    std::vector<Change> changes_;  // in decode order
};

}  // namespace ffmpeg_plugin
