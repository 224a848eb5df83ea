# Thin wrapper over CMake; everything is built in build/.
BUILD ?= build
# As many compile jobs as cores: a bare --parallel lets make start them all.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all configure run test bench fuzz install deb lintian format clean \
  windows windows-tests test-windows bench-windows bench-e2e dist-windows \
  soak test-cross deb-deps

all: configure
	cmake --build $(BUILD) --parallel $(JOBS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

run: all
	./$(BUILD)/quib

test: all
	cd $(BUILD) && ctest --output-on-failure

# The benchmark also builds the search as the package does, in
# $(BENCH_DEB_BUILD): Debian's flags from dpkg-buildflags (dpkg-dev), with
# the hardening debian/rules asks for, and CMake's build type None; its
# instructions per trial stand beside the default build's.
BENCH_DEB_BUILD ?= build-bench-deb

bench: configure
	cmake --build $(BUILD) --parallel $(JOBS) --target quib_bench search_times
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all && \
	  cxxflags="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" && \
	  ldflags="$$(dpkg-buildflags --get LDFLAGS)" && \
	  cmake -S . -B $(BENCH_DEB_BUILD) -DCMAKE_BUILD_TYPE=None -DQUIB_TESTS=OFF \
	    "-DCMAKE_CXX_FLAGS=$$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$$ldflags" \
	    $(CMAKE_FLAGS)
	cmake --build $(BENCH_DEB_BUILD) --parallel $(JOBS) --target quib_bench
	./$(BUILD)/bench/quib_bench \
	  --package-build=$(abspath $(BENCH_DEB_BUILD))/bench/quib_bench
	./$(BUILD)/bench/search_times

# The key decoder's fuzz target, built with clang in its own directory and
# run for FUZZ_TIME seconds; new inputs go to $(FUZZ_BUILD)/corpus, findings
# to $(FUZZ_BUILD)/artifacts. FUZZ_ARGS passes more libFuzzer options.
FUZZ_BUILD ?= build-fuzz
FUZZ_CXX ?= clang++
FUZZ_TIME ?= 120
FUZZ_ARGS ?=

fuzz:
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) $(FUZZ_CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) --parallel $(JOBS)
	mkdir -p $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/artifacts
	./$(FUZZ_BUILD)/fuzz_keys -max_total_time=$(FUZZ_TIME) -max_len=64 \
	  -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/artifacts/ \
	  $(FUZZ_ARGS) $(FUZZ_BUILD)/corpus fuzz/corpus

# The Windows program, cross-built with MinGW-w64 in $(WIN_BUILD);
# test-windows runs its tests under Wine. WIN_CMAKE_FLAGS passes more
# options to CMake.
WIN_BUILD ?= build-win
WIN_CMAKE_FLAGS ?=
# The toolchain file only when the folder is new: CMake takes it at the first
# configuration and warns that it is unused at every later one.
win_toolchain = $(if $(wildcard $(WIN_BUILD)/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)

windows:
	cmake -S . -B $(WIN_BUILD) $(win_toolchain) \
	  -DQUIB_TESTS=OFF $(WIN_CMAKE_FLAGS)
	cmake --build $(WIN_BUILD) --parallel $(JOBS) --target quib

# The Windows release, dist/quib-VERSION-windows-x86_64.zip and its
# .sha256, built from scratch in $(DIST_WIN_BUILD). The build date the
# program shows and the zip's file times are the last commit's date (or a
# SOURCE_DATE_EPOCH given), so that the same commit gives the same zip.
DIST_WIN_BUILD ?= build-dist-win

dist-windows:
	rm -rf $(DIST_WIN_BUILD)
	export SOURCE_DATE_EPOCH=$${SOURCE_DATE_EPOCH:-$$(git log -1 --format=%ct)} && \
	  { test -n "$$SOURCE_DATE_EPOCH" || { echo "no commit date: set SOURCE_DATE_EPOCH"; exit 1; }; } && \
	  cmake -S . -B $(DIST_WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	    -DCMAKE_BUILD_TYPE=Release -DQUIB_TESTS=OFF -DQUIB_BENCH=OFF $(WIN_CMAKE_FLAGS) && \
	  cmake --build $(DIST_WIN_BUILD) --parallel $(JOBS) --target quib && \
	  mkdir -p $(DIST) && \
	  python3 tools/windows_zip.py $(DIST_WIN_BUILD)/quib.exe . $(VERSION) \
	    $(DIST)/quib-$(VERSION)-windows-x86_64.zip

# The search's times of the Windows build, under Wine.
bench-windows:
	cmake -S . -B $(WIN_BUILD) $(win_toolchain) \
	  $(WIN_CMAKE_FLAGS)
	cmake --build $(WIN_BUILD) --parallel $(JOBS) --target search_times
	WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/tests/wineprefix WINEDEBUG=-all \
	  wine $(WIN_BUILD)/bench/search_times.exe

# The search as the user waits for it: the Linux and the Windows program on
# a pseudo-terminal, in turn, from Return to the solution of a long puzzle,
# in processor time of the program's own process; E2E_RUNS runs of each,
# and the ratio Windows/Linux of their medians.
E2E_RUNS ?= 8

bench-e2e: all windows
	mkdir -p $(WIN_BUILD)/tests # Wine makes the prefix, not its parent
	WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/tests/wineprefix WINEDEBUG=-all \
	  python3 bench/e2e_times.py $(BUILD)/quib $(WIN_BUILD)/quib.exe $(E2E_RUNS)

windows-tests:
	cmake -S . -B $(WIN_BUILD) $(win_toolchain) \
	  -DQUIB_TESTS=ON $(WIN_CMAKE_FLAGS)
	cmake --build $(WIN_BUILD) --parallel $(JOBS)

test-windows: windows-tests
	cd $(WIN_BUILD) && ctest --output-on-failure

# The whole suite SOAK_RUNS times in a row with both cores kept busy, for
# each build in SOAK_BUILDS (linux, windows); the Windows build's first run
# in a fresh Wine prefix. Ends with "N passed, M failed" runs.
SOAK_RUNS ?= 5
SOAK_BUILDS ?= linux windows
soak_dir = $(if $(filter windows,$(1)),$(WIN_BUILD),$(BUILD))

soak: $(if $(filter linux,$(SOAK_BUILDS)),all) \
      $(if $(filter windows,$(SOAK_BUILDS)),windows-tests)
	tools/soak.sh $(SOAK_RUNS) $(foreach b,$(SOAK_BUILDS),$(b):$(call soak_dir,$(b)))

# The Linux program and every test cross-built for the Debian architecture
# ARCH (i386, arm64, armhf, s390x, ppc64el) with Debian's cross compiler in
# build-ARCH, and the whole suite run there: through qemu-user where this
# machine cannot run the programs itself. CROSS_CMAKE_FLAGS passes more
# options to CMake.
ARCH ?=
CROSS_ARCHES := i386 arm64 armhf s390x ppc64el
CROSS_BUILD ?= build-$(ARCH)
CROSS_CMAKE_FLAGS ?=
cross_toolchain = $(if $(wildcard $(CROSS_BUILD)/CMakeCache.txt),,-DCMAKE_TOOLCHAIN_FILE=cmake/debian-cross.cmake)

test-cross:
	@test -n "$(filter $(CROSS_ARCHES),$(ARCH))" && test "$(words $(ARCH))" = 1 || { \
	  echo "ARCH is one of $(CROSS_ARCHES)"; exit 1; }
	cmake -S . -B $(CROSS_BUILD) $(cross_toolchain) -DQUIB_ARCH=$(ARCH) \
	  -DQUIB_BENCH=OFF $(CROSS_CMAKE_FLAGS)
	cmake --build $(CROSS_BUILD) --parallel $(JOBS)
	cd $(CROSS_BUILD) && ctest --output-on-failure

install: all
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package. dpkg-buildpackage writes its results beside the tree
# it builds, so it builds a copy of this tree (without .git and the build
# output) in $(DEB_BUILD)/quib-VERSION; the packages (quib and its
# debugging symbols, quib-dbgsym), the .changes and the .buildinfo end up in
# $(DIST). The version in debian/changelog must be the project's.
# DEB_FLAGS passes more options to dpkg-buildpackage.
DEB_BUILD ?= build-deb
DIST ?= dist
DEB_FLAGS ?=
VERSION := $(shell sed -n 's/^project.quib VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DEB_EXCLUDE := .git $(BUILD) 'build-*' $(DEB_BUILD) $(DIST) 'obj-*' foo.dat \
  debian/quib debian/tmp debian/.debhelper debian/files 'debian/*.substvars' \
  debian/debhelper-build-stamp

# With ARCH, the package for that Debian architecture, cross-built with
# Debian's cross compiler (its C and C++ compilers named for dpkg's check)
# against the architecture's multiarch libraries, which make deb-deps
# installs. Debian's tools run no tests in a cross build, so it builds none
# (the nocheck profile); make test-cross ARCH=... runs them.
comma := ,
deb_triplet = $(shell dpkg-architecture -a$(ARCH) -qDEB_HOST_GNU_TYPE 2>/dev/null)
deb_env = $(if $(ARCH),CC=$(deb_triplet)-gcc CXX=$(deb_triplet)-g++ \
  DEB_BUILD_OPTIONS="nocheck $(DEB_BUILD_OPTIONS)")
deb_cross = $(if $(ARCH),-a$(ARCH) -Pcross$(comma)nocheck)

# What make deb ARCH=... needs, as root, the Debian way: the architecture
# added to dpkg, the cross compiler, the C++ runtime the package depends on
# (dpkg-shlibdeps reads its symbols) and the build dependencies for it.
deb-deps:
	@test -n "$(deb_triplet)" || { echo "ARCH is a Debian architecture"; exit 1; }
	dpkg --print-foreign-architectures | grep -qx '$(ARCH)' \
	  || dpkg --add-architecture $(ARCH)
	apt-get update
	DEBIAN_FRONTEND=noninteractive apt-get install -y \
	  g++-$(deb_triplet) libstdc++6:$(ARCH)
	DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -a$(ARCH) \
	  -Pcross,nocheck ./

deb:
	@test -n "$(VERSION)" || { echo "no project version in CMakeLists.txt"; exit 1; }
	@changelog=$$(dpkg-parsechangelog -S Version) && \
	  test "$$changelog" = "$(VERSION)" || { \
	  echo "debian/changelog has version $$changelog, the project $(VERSION)"; \
	  exit 1; }
	rm -rf $(DEB_BUILD)
	mkdir -p $(DEB_BUILD)/quib-$(VERSION) $(DIST)
	tar -cf - $(foreach x,$(DEB_EXCLUDE),--exclude=./$(x)) . \
	  | tar -xf - -C $(DEB_BUILD)/quib-$(VERSION)
	cd $(DEB_BUILD)/quib-$(VERSION) && $(deb_env) dpkg-buildpackage -us -uc -b \
	  $(deb_cross) $(DEB_FLAGS)
	rm -f $(DIST)/quib_* $(DIST)/quib-dbgsym_*
	mv $(DEB_BUILD)/*.deb $(DEB_BUILD)/*.changes $(DEB_BUILD)/*.buildinfo $(DIST)/
	@ls -l $(DIST)

# Lintian on the package that `make deb` left in $(DIST): any error or
# warning fails.
lintian:
	lintian --fail-on error,warning $(DIST)/quib_$(VERSION)_*.changes

format:
	clang-format -i src/*.h src/*.cpp src/*/*.h src/*/*.cpp tests/*.cpp bench/*.cpp bench/*.h \
	  fuzz/*.cpp fuzz/*.h

clean:
	rm -rf $(BUILD) $(WIN_BUILD) $(DIST_WIN_BUILD)
