"""Byte-compiles one file of the orvo package for the build tree and the
installation:
    python compile_package_file.py SOURCE COMPILED
Python 3 writes byte code checked against the source's hash, which stays
valid whatever times a copy gives the files; Python 2.7 checks the
source's time, which the installation keeps."""
import py_compile
import sys

source, compiled = sys.argv[1:3]
options = {}
if hasattr(py_compile, "PycInvalidationMode"):
    options["invalidation_mode"] = py_compile.PycInvalidationMode.CHECKED_HASH
py_compile.compile(source, cfile=compiled, doraise=True, **options)
