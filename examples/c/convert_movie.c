/* convert_movie: copies frames <first> to <last> of a movie into a new
 * movie, flipped top to bottom, through the dyx movie API. The codecs come
 * from the input's and the output's suffixes; the output takes the input's
 * size and frame rate.
 *
 *   QEV_UDILPATH=<plug-in directory> convert_movie <input> <output> <first> <last>
 *
 * The plug-in directory is where the libudil-*.so files live (for an
 * installation, <QEV_HOME>/vorp32/machines/linux_2.6_64/QEV/lib/udil). */
#include <dyx_image.h>
#include <dyx_udil.h>
#include <dyx_udil_movie.h>
#include <dyx_utils.h>
#include <stdio.h>
#include <stdlib.h>

/* Reads a frame number; false for anything but a whole number from 0. */
static int frame_number(const char *text, int32_t *number) {
    char *end = NULL;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 2147483647L) return 0;
    *number = (int32_t)value;
    return 1;
}

/* Prints a dot per frame copied; never stops the copy. */
static int show_progress(void *context, int32_t frame) {
    (void)context;
    (void)frame;
    fputc('.', stderr);
    return DYX_MOVIE_CONTINUE;
}

/* Copies the input's frames into the open output. 0, or 1 with a message. */
static int copy_frames(DyxUdilMovie *input, DyxUdilMovie *output) {
    DyxUdilMovieTransfer transfer = {0, NULL, show_progress, NULL};
    int status = dyx_udil_movie_append_movie(output, input, &transfer);
    fputc('\n', stderr);
    if (status != 0) fprintf(stderr, "convert_movie: %s\n", dyx_udil_movie_error(output));
    /* Close in every case: the frames written so far make a readable file. */
    if (dyx_udil_movie_close(output) != 0) {
        fprintf(stderr, "convert_movie: %s\n", dyx_udil_movie_error(output));
        status = 1;
    }
    return status != 0;
}

static int convert(DyxUdilMovie *input, DyxUdilMovie *output, const char *in_name, const char *out_name,
                   int32_t first, int32_t last) {
    snprintf(input->filename, sizeof input->filename, "%s", in_name);
    input->flip = DYX_FLIP_XAXIS;
    if (dyx_udil_movie_set_framerange(input, first, last) != 0 ||
        dyx_udil_movie_open(input, NULL, NULL) != 0) {
        fprintf(stderr, "convert_movie: %s: %s\n", in_name, dyx_udil_movie_error(input));
        return 1;
    }
    snprintf(output->filename, sizeof output->filename, "%s", out_name);
    dyx_udil_movie_set_dims(output, input->width, input->height);
    output->fps = input->fps;
    output->nframes = input->nframes;
    if (dyx_udil_movie_open(output, NULL, NULL) != 0) {
        fprintf(stderr, "convert_movie: %s: %s\n", out_name, dyx_udil_movie_error(output));
        return 1;
    }
    if (copy_frames(input, output) != 0) return 1;
    printf("%s: %d frames of %dx%d\n", out_name, (int)input->nframes, (int)input->width, (int)input->height);
    return 0;
}

int main(int argc, char **argv) {
    int32_t first = 0, last = 0;
    if (argc != 5 || !frame_number(argv[3], &first) || !frame_number(argv[4], &last) || last < first) {
        fprintf(stderr, "usage: convert_movie <input> <output> <first> <last>\n");
        return 2;
    }
    const char *plugins = getenv("QEV_UDILPATH");
    if (plugins == NULL) {
        fprintf(stderr, "convert_movie: set QEV_UDILPATH to the codec plug-in directory\n");
        return 2;
    }
    dyx_utils_init();
    dyx_image_pool_create(8);
    dyx_udil_scan_libraries(plugins);

    DyxUdilMovie *input = dyx_udil_movie_new(1);
    DyxUdilMovie *output = dyx_udil_movie_new(0);
    int status = 1;
    if (input == NULL || output == NULL)
        fprintf(stderr, "convert_movie: out of memory\n");
    else
        status = convert(input, output, argv[1], argv[2], first, last);
    dyx_udil_movie_free(&output);
    dyx_udil_movie_free(&input);
    return status;
}
