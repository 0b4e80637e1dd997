/* Shell-style wildcard matching: '*', '?', bracket sets and escapes.
 *
 * Both matchers return 0 for a match and 1 for no match, like POSIX
 * fnmatch, and take its flag values. */
#ifndef DYX_FNMATCH_H
#define DYX_FNMATCH_H

#include "dyx_api.h"

DYX_BEGIN_DECLS

#define DYX_FNM_PATHNAME 1    /* '/' only matched by a '/' of the pattern */
#define DYX_FNM_NOESCAPE 2    /* '\\' is an ordinary character */
#define DYX_FNM_PERIOD 4      /* a leading '.' only matched by a '.' */
#define DYX_FNM_LEADING_DIR 8 /* the pattern may match a leading part before '/' */
#define DYX_FNM_CASEFOLD 16   /* letters match regardless of case */
#define DYX_FNM_DIR_PREFIX 32 /* dyx_fnmatch: a directory prefix of the pattern matches */

#define DYX_FNM_MATCH 0
#define DYX_FNM_NOMATCH 1

/* Matches `name` against `pattern` with the DYX_FNM_* flags. With
 * DYX_FNM_DIR_PREFIX a name that is a directory prefix of the pattern also
 * matches ("/usr" and "/" against "/usr/lib"). A null pattern or name
 * does not match. */
DYX_API int dyx_fnmatch(const char *pattern, const char *name, int flags);
/* The same as dyx_fnmatch. */
DYX_API int dyx_fnmatch_pathnames(const char *pattern, const char *name, int flags);

/* The matcher of directory listings. Like dyx_fnmatch, except: a run of
 * '*' and '?' consumes one character per '?' and, when the pattern ends
 * after it, matches whatever remains of the name (even a '/' under
 * DYX_FNM_PATHNAME); DYX_FNM_CASEFOLD compares upper-cased; and
 * DYX_FNM_DIR_PREFIX has no effect. Names of 1024 bytes or more do not
 * match. */
DYX_API int qev_fnmatch(const char *pattern, const char *name, int flags);

DYX_END_DECLS

#endif
