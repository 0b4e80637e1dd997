/* scale_png: reads a PNG, scales it to half its size (area averaging) and
 * writes it as a PNG, through the dyx C API and the codec plug-in host.
 *
 *   scale_png <plug-in directory> <input.png> <output.png>
 *
 * The plug-in directory is where libudil-png.so lives (for an installation,
 * <QEV_HOME>/vorp32/machines/linux_2.6_64/QEV/lib/udil). */
#include <dyx_image.h>
#include <dyx_udil.h>
#include <dyx_udil_stream.h>
#include <dyx_utils.h>
#include <stdio.h>
#include <string.h>

/* The loaded codec for a file name's suffix, or null with a message. */
static UdilRecord *codec_for(const char *filename) {
    UdilRecord *codec = dyx_udil_find_by_suffix(filename);
    if (codec == NULL) {
        fprintf(stderr, "scale_png: no codec plug-in for %s\n", filename);
        return NULL;
    }
    if (dyx_udil_load(codec) != 0) {
        fprintf(stderr, "scale_png: cannot load the %s plug-in\n", codec->name);
        return NULL;
    }
    return codec;
}

/* The first picture of `filename`, or null with a message. */
static dyx_image_t *read_picture(const char *filename) {
    UdilRecord *codec = codec_for(filename);
    if (codec == NULL) return NULL;
    UdilMovieInfo info;
    memset(&info, 0, sizeof info);
    int32_t option_count = 0;
    int32_t first = codec->multi_image_capable ? -1 : 0;
    int32_t last = first;
    UdilStream *stream = dyx_udil_file_open(filename, codec, &info, &option_count, 0, NULL, &first, &last);
    if (stream == NULL) {
        fprintf(stderr, "scale_png: cannot open %s: %s\n", filename, dyx_udil_get_last_error_string());
        return NULL;
    }
    dyx_image_t *picture = NULL;
    if (info.width > 0 && info.height > 0)
        picture = dyx_image_alloc((uint32_t)info.width, (uint32_t)info.height, 0, info.pixel_format);
    if (picture == NULL || dyx_udil_get_image(stream, 0, UDIL_EYE_MONO, picture, NULL) != 0) {
        fprintf(stderr, "scale_png: cannot read %s: %s\n", filename, dyx_udil_get_last_error_string());
        dyx_image_free(&picture);
    }
    dyx_udil_file_close(&stream);
    return picture;
}

/* Writes `picture` to `filename` with the codec's default options. */
static int write_picture(const char *filename, const dyx_image_t *picture) {
    UdilRecord *codec = codec_for(filename);
    if (codec == NULL) return 1;
    UdilMovieInfo info;
    memset(&info, 0, sizeof info);
    info.width = (int32_t)picture->width;
    info.height = (int32_t)picture->height;
    info.frames = 1;
    info.frame_rate = -1.0f;
    info.pixel_format = picture->format;
    UdilStream *stream = dyx_udil_file_new(filename, codec, &info, codec->option_count, codec->options);
    if (stream == NULL) {
        fprintf(stderr, "scale_png: cannot create %s: %s\n", filename, dyx_udil_get_last_error_string());
        return 1;
    }
    int written = dyx_udil_save_image(stream, 0, UDIL_EYE_MONO, picture, NULL);
    int closed = dyx_udil_file_close(&stream); /* the file is complete only after close */
    if (written != 0 || closed != 0) {
        fprintf(stderr, "scale_png: cannot write %s: %s\n", filename, dyx_udil_get_last_error_string());
        return 1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: scale_png <plug-in directory> <input.png> <output.png>\n");
        return 2;
    }
    dyx_utils_init();
    dyx_image_pool_create(8);
    dyx_udil_scan_libraries(argv[1]);

    dyx_image_t *picture = read_picture(argv[2]);
    if (picture == NULL) return 1;

    /* The size comes from a template record; its pixels are never read. */
    uint32_t width = picture->width > 1 ? picture->width / 2 : 1;
    uint32_t height = picture->height > 1 ? picture->height / 2 : 1;
    dyx_image_t *size = dyx_image_alloc(width, height, 0, picture->format);
    int status = size == NULL || dyx_image_scale(&picture, size, DYX_SCALE_SMOOTH) != 0;
    dyx_image_free(&size);
    if (status != 0)
        fprintf(stderr, "scale_png: out of memory\n");
    else
        status = write_picture(argv[3], picture);
    if (status == 0) printf("%s: %ux%u\n", argv[3], (unsigned)picture->width, (unsigned)picture->height);
    dyx_image_free(&picture);
    return status;
}
