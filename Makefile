# Front door of the project. `make demo` runs the main job, `make test` runs all tests.
# Every target that builds runs `setup` first, so each works alone on a fresh machine.

LOCAL_BUILD ?= build/local
RELEASE_BUILD ?= build/release
JOBS ?= $(shell nproc)
# Port of the local fake publisher baked into the local-profile build (one per build folder,
# so that several build folders can run their tests at once).
LOCAL_PORT ?= 47443
# A CTest regular expression to run part of the suite: make test TESTS=Logging
TESTS ?=
TOOLCHAIN := $(CURDIR)/cmake/toolchain-mingw-i686.cmake

.PHONY: setup build build-local test demo bench screenshots fuzz release clean

setup:
	@./tools/setup.sh

$(RELEASE_BUILD)/build.ninja: CMakeLists.txt
	@cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$(TOOLCHAIN) \
	  -DLI_PROFILE=release -DLI_THREAD_MODEL=win32 -DLI_BUILD_TESTS=OFF \
	  -DLI_TRUSTED_KEYS_FILE=NONE >/dev/null

# The release executable: build/release/lite_installer.exe. It trusts no archive (no keys):
# for size checks; `make release` makes the shippable copies.
build: setup $(RELEASE_BUILD)/build.ninja
	@cmake -S . -B $(RELEASE_BUILD) -DLI_TRUSTED_KEYS_FILE=NONE >/dev/null
	@cmake --build $(RELEASE_BUILD) --target lite_installer -j $(JOBS)
	@ls -l $(RELEASE_BUILD)/lite_installer.exe

# The local-profile executable and every test program, for the architecture that
# tools/test_arch.sh names: i686 (what ships) wherever a 32-bit Wine runs, in the machine's own
# Wine or, on a machine without a 32-bit mode, in the private root of tools/wine32_root.sh. A
# build folder made for another architecture or Wine is started afresh.
build-local: setup
	@set -- $$(./tools/test_arch.sh route); arch=$$1; root=$${2:-}; \
	toolchain=$(CURDIR)/cmake/toolchain-mingw-$$arch.cmake; \
	if [ -f $(LOCAL_BUILD)/CMakeCache.txt ] && \
	   { ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=$$toolchain" $(LOCAL_BUILD)/CMakeCache.txt || \
	     ! grep -qxF "LI_WINE_ROOT:STRING=$$root" $(LOCAL_BUILD)/CMakeCache.txt; }; then \
	  echo "build-local: $(LOCAL_BUILD) was made for another architecture or Wine; starting it afresh"; \
	  rm -rf $(LOCAL_BUILD); fi; \
	if [ ! -f $(LOCAL_BUILD)/build.ninja ]; then \
	  if [ $$arch = x86_64 ]; then \
	    echo "build-local: no 32-bit Wine runs here (no 32-bit mode and no emulated root: see make setup's output); the programs are built for x64"; fi; \
	  cmake -S . -B $(LOCAL_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$$toolchain \
	    -DLI_PROFILE=local -DLI_LOCAL_PORT=$(LOCAL_PORT) -DLI_BUILD_TESTS=ON \
	    -DLI_WINE_ROOT=$$root >/dev/null || exit 1; fi
	@cmake --build $(LOCAL_BUILD) -j $(JOBS)

test: build-local
	@./tools/run_tests.sh $(LOCAL_BUILD) "$(TESTS)"

demo: build-local
	@./tools/demo.sh $(LOCAL_BUILD)

# Every benchmark script (tools/bench_*.sh) against the local-profile build, then one table of
# the figures they recorded.
BENCH_SUMMARY := $(abspath $(LOCAL_BUILD))/bench_summary.tsv
bench: build-local
	@rm -f $(BENCH_SUMMARY)
	@for script in tools/bench_*.sh; do echo "### $$script"; \
	  BENCH_SUMMARY=$(BENCH_SUMMARY) ./$$script $(LOCAL_BUILD) || exit 1; done
	@python3 tools/bench_table.py $(BENCH_SUMMARY)

# Pictures of the installer window under a virtual display, in $(LOCAL_BUILD)/screenshots/.
screenshots: build-local
	@./tools/screenshots.sh $(LOCAL_BUILD)

# A release: the release profile built with the publisher's keys (and the packages of
# PACKAGES), signed with SHA-256, one stamped and verified copy per line of TAGS, in OUT.
#   make release KEYS=keys.txt CERT=cert.pem KEY=key.pem TAGS=tags.txt [PACKAGES=dir]
#                [CA=root.pem] [TIMESTAMP_URL=http://...] [OUT=build/dist]
OUT ?= build/dist
release: setup
	@PACKAGES="$(PACKAGES)" CA="$(CA)" TIMESTAMP_URL="$(TIMESTAMP_URL)" \
	  ./tools/release.sh "$(KEYS)" "$(CERT)" "$(KEY)" \
	  "$(TAGS)" "$(OUT)"

# Long damage runs over every parser of outside input under Wine's heap checking (not part
# of `make test`): FUZZ_INPUTS per parser, five parsers.
FUZZ_INPUTS ?= 25000
fuzz: build-local
	@cmake --build $(LOCAL_BUILD) --target fuzz_parsers
	@./tools/fuzz.sh $(LOCAL_BUILD) $(FUZZ_INPUTS)

clean:
	rm -rf build
