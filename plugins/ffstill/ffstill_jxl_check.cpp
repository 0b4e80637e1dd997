#include "ffstill_jxl_check.h"

#include <jxl/decode.h>

#include <memory>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace ffstill {

namespace {

// Walks the boxes of a JPEG XL container: each header whole, each box
// inside the data (a size of 0 runs to the end, 1 gives a 64-bit size).
bool check_boxes(const uint8_t *data, size_t size, std::string &error) {
    for (uint64_t at = 0; at < size;) {
        const uint64_t left = size - at;
        if (left < 8 || (AV_RB32(data + at) == 1 && left < 16)) {
            error = "a JPEG XL box header is cut short";
            return false;
        }
        uint64_t box = AV_RB32(data + at), header = 8;
        if (box == 0) return true;
        if (box == 1) {
            box = AV_RB64(data + at + 8);
            header = 16;
        }
        if (box < header || box > left) {
            error = "a JPEG XL box runs past the end of the file";
            return false;
        }
        at += box;
    }
    return true;
}

struct DecoderDeleter {
    void operator()(JxlDecoder *decoder) const { JxlDecoderDestroy(decoder); }
};

}  // namespace

bool check_jxl_start(const uint8_t *data, size_t size, std::string &error) {
    // FFmpeg's decoder hands libjxl the whole file and asks again for as
    // long as libjxl wants more input while bytes are left over, which it
    // does, without end, when it cannot use what is left. libjxl is asked
    // here first, told that the data ends, up to the first frame's header.
    const JxlSignature signature = JxlSignatureCheck(data, size);
    if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER) {
        error = "not a JPEG XL file (no JPEG XL signature)";
        return false;
    }
    if (signature == JXL_SIG_CONTAINER && !check_boxes(data, size, error)) return false;
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder) {
        error = "out of memory";
        return false;
    }
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FRAME) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS) {
        error = "libjxl would not take the file's data";
        return false;
    }
    JxlDecoderCloseInput(decoder.get());
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_BASIC_INFO:
                continue;
            case JXL_DEC_FRAME:
                return true;
            case JXL_DEC_NEED_MORE_INPUT:
                error = "the JPEG XL file is cut short";
                return false;
            default:
                error = "the JPEG XL file's headers are damaged";
                return false;
        }
    }
}

}  // namespace ffstill
