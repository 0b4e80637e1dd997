# Thin front over the CMake build. `make run` and `make test` are the
# README's two commands; both install what they need first.
PYTHON3 ?= /usr/bin/python3
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test install clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DPython3_EXECUTABLE=$(PYTHON3) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	PYTHONPATH=$(CURDIR)/$(BUILD)/py3 QEV_UDILPATH=$(CURDIR)/$(BUILD)/udil $(PYTHON3) scripts/main-job.py

test: build
	scripts/run-tests $(BUILD)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-tsan
