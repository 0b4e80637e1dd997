/* Shell commands connected by a pipe, and thin wrappers over the C
 * library's pipe calls. */
#ifndef DYX_PIPE_H
#define DYX_PIPE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Runs `command` with /bin/sh in a process group of its own, connected by
 * a pipe: with a mode beginning with 'r' the stream reads the command's
 * standard output and standard error; with 'w' it feeds its standard
 * input. *pid receives the child's process id (-1 on failure). Returns the
 * stream, or null for another mode or when no pipe or process can be made.
 * The caller closes the stream with fclose and reaps the child (waitpid).
 * When the shell cannot run, the child ends at once with status 127. */
DYX_API FILE *dyx_pipe_popen_id(const char *command, const char *mode, int32_t *pid);

/* popen, pclose, fgets, fread, fwrite and feof. */
DYX_API FILE *dyx_pipe_popen(const char *command, const char *mode);
DYX_API int dyx_pipe_pclose(FILE *stream);
DYX_API char *dyx_pipe_fgets(char *buffer, int size, FILE *stream);
DYX_API size_t dyx_pipe_fread(void *buffer, size_t size, size_t count, FILE *stream);
DYX_API size_t dyx_pipe_fwrite(const void *buffer, size_t size, size_t count, FILE *stream);
DYX_API int dyx_pipe_feof(FILE *stream);

DYX_END_DECLS

#endif
