#include "jpeg_errors.h"

#include <jerror.h>

namespace jpeg_codec {
namespace {

[[noreturn]] void jump_back(j_common_ptr info) {
    auto *errors = reinterpret_cast<ErrorJump *>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Header quirks that leave the picture intact.
bool is_harmless(int code) {
    return code == JWRN_EXTRANEOUS_DATA || code == JWRN_ADOBE_XFORM || code == JWRN_JFIF_MAJOR ||
           code == JWRN_BOGUS_ICC;
}

void on_message_strict(j_common_ptr info, int level) {
    if (level < 0 && !is_harmless(info->err->msg_code)) jump_back(info);
}

void on_message_quiet(j_common_ptr, int) {}

}  // namespace

void ErrorJump::install(jpeg_common_struct &info, bool strict) {
    message[0] = '\0';
    info.err = jpeg_std_error(&manager);
    manager.error_exit = jump_back;
    manager.emit_message = strict ? on_message_strict : on_message_quiet;
}

}  // namespace jpeg_codec
