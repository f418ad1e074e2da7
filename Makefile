# Quick start on a fresh Debian 12 machine:  make run   |   make test
# Both install what is missing, configure and build; nothing is redone when it is already there.

BUILD      ?= build
PORTABLE_BUILD ?= build-portable
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD?= build-bench
FUZZ_SECONDS ?= 50
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev \
           fonts-dejavu-core appstream desktop-file-utils dpkg-dev g++-mingw-w64-x86-64-posix
PACKAGE_PACKAGES = lintian
FUZZ_PACKAGES = clang libclang-rt-14-dev

# Installs those of the Debian packages given that are missing.
install_missing = @missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; fi

.PHONY: all run test deps fuzz-deps build portable asan fuzz bench soak format install package clean

all: build

deps:
	$(call install_missing,$(PACKAGES))

fuzz-deps:
	$(call install_missing,$(FUZZ_PACKAGES))

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$$(nproc)

run: build
	./$(BUILD)/src/kelvane

# Only the implementations in Qt and standard C++, as on a system other than Linux.
$(PORTABLE_BUILD)/CMakeCache.txt:
	cmake -S . -B $(PORTABLE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_PORTABLE=ON -DKELVANE_BENCH=OFF

portable: deps $(PORTABLE_BUILD)/CMakeCache.txt
	cmake --build $(PORTABLE_BUILD) -j$$(nproc)

# The whole suite in both builds; the first also compiles every file under src for Windows.
test: build portable fuzz
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$$(nproc)
	cd $(PORTABLE_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$$(nproc)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@[ -f $(ASAN_BUILD)/CMakeCache.txt ] || cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug \
	  -DKELVANE_SANITIZE=ON -DKELVANE_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$$(nproc)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure

# A bounded libFuzzer run over the codec and the number conversion; any finding fails.
fuzz: deps fuzz-deps
	@[ -f $(FUZZ_BUILD)/CMakeCache.txt ] || CXX=clang++ cmake -S . -B $(FUZZ_BUILD) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_FUZZ=ON -DKELVANE_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j$$(nproc) --target fuzz_codec
	mkdir -p $(FUZZ_BUILD)/corpus
	./$(FUZZ_BUILD)/fuzz/fuzz_codec -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  $(FUZZ_BUILD)/corpus fuzz/seeds

bench: deps
	@[ -f $(BENCH_BUILD)/CMakeCache.txt ] || cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_BUILD) -j$$(nproc)
	@for b in $(BENCH_BUILD)/bench/bench_*; do QT_QPA_PLATFORM=offscreen $$b || exit 1; done

soak: build
	QT_QPA_PLATFORM=offscreen KELVANE_SOAK_SECONDS=60 ./$(BUILD)/tests/tst_soak

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

install: build
	$(SUDO) cmake --install $(BUILD)

# The Debian package, checked by lintian: any error fails.
package: build
	$(call install_missing,$(PACKAGE_PACKAGES))
	rm -f $(BUILD)/kelvane_*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/kelvane_*.deb

clean:
	rm -rf $(BUILD) $(PORTABLE_BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)
