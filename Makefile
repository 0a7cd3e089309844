# The two commands: `make run` and `make test`. Each installs what it needs.

BUILD      ?= build
TEST_BUILD ?= build-test
PKG_BUILD  ?= build-pkg
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-windows
FUZZ_SECONDS ?= 30
FUZZ_TARGETS = leading_number locale_number profile_file icmp_packet
JOBS       ?= $(shell nproc)

.PHONY: all run test package bench bench-windows fuzz setup build clean windows package-windows

all: build

setup:
	@tools/setup.sh

# Configured once; the build configures again itself when a CMake file changed.
build: setup
	@test -f $(BUILD)/CMakeCache.txt || \
		cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@tools/grant_icmp.sh $(BUILD)/libexec/sondrel-ping/sondrel-ping-icmp
	$(BUILD)/bin/sondrel-ping

test: setup package-windows
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPING_SANITIZE=ON -DPING_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
	cd $(WIN_BUILD) && xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
		../tools/wine_session.sh ctest --output-on-failure -j $(JOBS)

# The Windows program and the core's tests, cross-built: $(WIN_BUILD)/bin/.
windows:
	@tools/setup.sh windows
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=Release -DPING_WERROR=ON
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The portable zip and the installer, in $(WIN_BUILD)/.
package-windows: windows
	cmake --build $(WIN_BUILD) --target windows_packages

# Not part of `make test`: figures, not pass or fail. As root: the benchmark
# runs in a network namespace of its own. A real X server (Xvfb where there
# is no display) paints the windows.
bench: setup
	@tools/setup.sh bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DPING_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96") \
		$(BENCH_BUILD)/bin/ping_bench $(REPETITIONS)

# Not part of `make test` either: the Windows program's cost per echo against
# the system's own echo loop, side by side under Wine, in a network namespace
# of its own (as root, which Wine's echoes need too).
bench-windows: windows
	cmake -S . -B $(WIN_BUILD) -DPING_BENCH=ON
	cmake --build $(WIN_BUILD) -j $(JOBS) --target ping_bench
	unshare --net sh -c 'ip link set lo up && xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
		tools/wine_session.sh /usr/lib/wine/wine64 $(WIN_BUILD)/bin/ping_bench.exe $(REPETITIONS)'

# The Debian package, in $(PKG_BUILD)/.
# With Debian's hardening flags, as its own packages are built, and with only
# the flags dpkg-buildflags gives (build type None, as debhelper's), so that
# DEB_BUILD_OPTIONS=noopt and the like work.
package: setup
	DEB_BUILD_MAINT_OPTIONS=hardening=+all; export DEB_BUILD_MAINT_OPTIONS; \
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF
	cmake --build $(PKG_BUILD) -j $(JOBS)
	cd $(PKG_BUILD) && cpack

# Not part of `make test`: libFuzzer under ASan and UBSan, FUZZ_SECONDS each,
# from the corpus in fuzz/corpus/; new inputs go to $(FUZZ_BUILD)/corpus/,
# crashes to $(FUZZ_BUILD)/crashes/.
fuzz:
	@tools/setup.sh fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPING_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@mkdir -p $(FUZZ_BUILD)/crashes
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
		echo "== $$t, $(FUZZ_SECONDS) s"; \
		$(FUZZ_BUILD)/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t \
			|| exit 1; \
	done

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(PKG_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
