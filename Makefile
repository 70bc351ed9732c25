# Entry points: `make run` and `make check` are the quick start; see README.md.
JOBS ?= 2
DEPS := tools/install-deps.sh
CMAKE_COMMON := -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

.PHONY: deps build run screenshots check check-layers check-asan check-tsan bench fuzz format clean package install

deps:
	@bash $(DEPS)

build: deps
	@cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVANDREL_BENCH=OFF $(CMAKE_COMMON) >/dev/null
	@cmake --build build/release -j$(JOBS)

run: build
	@bash tools/run.sh build/release

# PNG pictures of the real windows, taken by the GUI tests under a virtual display, in build/screenshots/.
screenshots: build
	@rm -rf build/screenshots && mkdir -p build/screenshots
	@cmake --build build/release -j$(JOBS) --target vandrel_gui_tests
	@VANDREL_SCREENSHOT_DIR=$(CURDIR)/build/screenshots bash tools/run-gui-test.sh build/release/vandrel_gui_tests
	@ls build/screenshots

# A .deb of the release build (build/release/vandrel-shopper_VERSION_ARCH.deb); `make install` puts the
# release build under PREFIX (default /usr/local).
PREFIX ?= /usr/local
package: build
	@cd build/release && cpack -G DEB

install: build
	@cmake --install build/release --prefix $(PREFIX)

check: check-layers check-asan check-tsan

check-layers:
	@python3 tools/check-layers.py

check-asan: deps
	@cmake -S . -B build/check -DCMAKE_BUILD_TYPE=Debug -DVANDREL_SANITIZE=ON $(CMAKE_COMMON) >/dev/null
	@cmake --build build/check -j$(JOBS)
	@cd build/check && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

check-tsan: deps
	@cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DVANDREL_TSAN=ON -DVANDREL_GUI=OFF $(CMAKE_COMMON) >/dev/null
	@cmake --build build/tsan -j$(JOBS) --target vandrel_thread_tests
	@cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -L thread

bench: deps
	@cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVANDREL_BENCH=ON $(CMAKE_COMMON) >/dev/null
	@cmake --build build/release -j$(JOBS) --target vandrel_bench
	@build/release/bench/vandrel_bench

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DVANDREL_FUZZ=ON -DVANDREL_GUI=OFF $(CMAKE_COMMON) >/dev/null
	@cmake --build build/fuzz -j$(JOBS) --target vandrel_fuzz

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
