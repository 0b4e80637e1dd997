# Thin front over the CMake build. `make run` and `make test` are the
# README's two commands; both install what they need first.
PYTHON3 ?= /usr/bin/python3
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=
MANIFEST = $(BUILD)/install_manifest.txt

.PHONY: all deps configure build run test install uninstall clean fuzz valgrind wheels packaging-test

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DPython3_EXECUTABLE=$(PYTHON3) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The main job runs against the installed module, plug-ins and command,
# with no environment variable pointing into the build.
run: install
	env -u PYTHONPATH -u QEV_UDILPATH $(PYTHON3) examples/main_job.py $(BUILD)/main-job

test: build
	scripts/run-tests $(BUILD)

# Every fuzz target for FUZZ_SECONDS seconds, built with clang in its own
# directory (the main build is not touched).
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= build-fuzz
fuzz:
	scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# memcheck over the Python tests that walk every codec plug-in and the
# movie paths (a few minutes); `make valgrind VALGRIND_TESTS=tests/python`
# runs the whole Python 3 suite under it (10 to 20 minutes). The whole
# suite runs under the sanitizers in CI (scripts/run-asan-python).
VALGRIND_TESTS ?=
valgrind: build
	scripts/run-valgrind $(BUILD) $(VALGRIND_TESTS)

# A wheel for every CPython 3 found (Debian's and pyenv's) in
# build-wheels/dist; the library and plug-ins are compiled once for all.
wheels: deps
	scripts/build-wheels build-wheels/dist

# The wheels in fresh venvs, pip's metadata and uninstall, and the C example
# built against a staged copy of the library (what .ci/run runs).
packaging-test: build
	scripts/run-packaging $(BUILD)

install: build
	cmake --install $(BUILD)

# Removes exactly the files the last `make install` recorded, then those
# of orvo's own directories (*/orvo, */QEV, and lib/pkgconfig and lib/cmake,
# which install creates when missing) that it left empty.
uninstall:
	@test -f $(MANIFEST) || { echo "no $(MANIFEST): nothing was installed from $(BUILD)"; exit 1; }
	xargs -d '\n' rm -fv < $(MANIFEST)
	@sed 's|/[^/]*$$||' $(MANIFEST) | sort -u | while read -r dir; do \
	  while case "$$dir" in */orvo|*/orvo/*|*/QEV|*/QEV/*|*/lib/pkgconfig|*/lib/cmake) true ;; *) false ;; esac \
	        && rmdir "$$dir" 2>/dev/null; do \
	    echo "removed directory $$dir"; dir=$${dir%/*}; \
	  done; \
	done
	rm -f $(MANIFEST)

clean:
	rm -rf $(BUILD) build-asan build-asan-python build-tsan build-fuzz build-wheels
