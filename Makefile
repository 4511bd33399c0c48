# The two commands of the README, and the builds CI adds.
#   make test    posix suite, then the win32 suite under Wine where mingw-w64 and Wine exist
#   make demo    the supervisor on a demo installation of its own
#   make fuzz    the libFuzzer targets, for FUZZ_SECONDS each (clang; not part of CI)
#   make package        the Debian package, in $(BUILD)/
#   make package-win32  the zip and the MSI of the win32 programs and catalogs, in $(BUILD)/

BUILD ?= build
JOBS  ?= $(shell nproc)
GEN   := -G Ninja
WIN32_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
HAVE_WIN32_TOOLS := $(shell command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && \
                            command -v wine >/dev/null 2>&1 && echo yes)

# For ccache: a clone at another path finds what another clone compiled, and the precompiled test
# headers are cached too.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := true
export CCACHE_SLOPPINESS := pch_defines,time_macros,include_file_mtime,include_file_ctime

.PHONY: test test-posix test-win32 test-asan test-tsan fuzz demo package package-win32 clean

test: test-posix test-win32

# No test gets a second chance: a retry would hide the races between processes and threads that
# these tests are there to catch.
test-posix:
	cmake -S . -B $(BUILD)/posix $(GEN)
	cmake --build $(BUILD)/posix -j$(JOBS)
	ctest --test-dir $(BUILD)/posix -j$(JOBS) --output-on-failure

test-win32:
ifeq ($(HAVE_WIN32_TOOLS),yes)
	cmake -S . -B $(BUILD)/win32 $(GEN) -DCMAKE_TOOLCHAIN_FILE=$(WIN32_TOOLCHAIN)
	cmake --build $(BUILD)/win32 -j$(JOBS)
	tools/wine/test $(BUILD)/win32 -j$(JOBS)
else
	@echo "win32 suite skipped: install it with 'apt-get install g++-mingw-w64-x86-64-posix wine64 wine'"
endif

test-asan:
	cmake -S . -B $(BUILD)/asan $(GEN) -DKALVOR_SANITIZE=address,undefined
	cmake --build $(BUILD)/asan -j$(JOBS)
	ctest --test-dir $(BUILD)/asan -j$(JOBS) --output-on-failure

test-tsan:
	cmake -S . -B $(BUILD)/tsan $(GEN) -DKALVOR_SANITIZE=thread
	cmake --build $(BUILD)/tsan -j$(JOBS)
	ctest --test-dir $(BUILD)/tsan -j$(JOBS) --output-on-failure

# libFuzzer with clang, ASan and UBSan: each target runs FUZZ_SECONDS on its own corpus, which
# starts from the seeds in tests/fuzz/seeds and grows in $(BUILD)/fuzz/corpus. Not run by CI.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := conf-reader:conf time-text:time registry-hive:registry message-line:message \
                catalog-line:catalog
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz $(GEN) -DKALVOR_FUZZ=ON \
	    -DKALVOR_SANITIZE=address,undefined
	cmake --build $(BUILD)/fuzz -j$(JOBS) --target fuzz-conf-reader fuzz-time-text \
	    fuzz-registry-hive fuzz-message-line fuzz-catalog-line
	@for entry in $(FUZZ_TARGETS); do \
	    target=$${entry%%:*}; seeds=$${entry##*:}; \
	    mkdir -p $(BUILD)/fuzz/corpus/$$target; \
	    echo "=== fuzz-$$target for $(FUZZ_SECONDS) s"; \
	    $(BUILD)/fuzz/bin/fuzz-$$target -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	        -print_final_stats=1 $(BUILD)/fuzz/corpus/$$target tests/fuzz/seeds/$$seeds || exit 1; \
	done

# DEMO_SECONDS=N stops the demo by itself after N seconds; otherwise Ctrl-C does.
demo:
	cmake -S . -B $(BUILD)/posix $(GEN)
	cmake --build $(BUILD)/posix -j$(JOBS) --target wardex kalvor-demo kalvor-reg kalvor-ipc
	tools/demo/run-demo --bin $(BUILD)/posix/bin --dir $(BUILD)/demo \
		$(if $(DEMO_SECONDS),--seconds $(DEMO_SECONDS))

# Release builds of their own, without the tests, so that the suite's builds stay as they are.
# The unit and the example configuration are configured for the prefix, /usr. The Debian
# package must have its manual pages (help2man), and passes lintian, where it is installed,
# without an error or a warning.
package:
	cmake -S . -B $(BUILD)/package $(GEN) -DCMAKE_BUILD_TYPE=Release -DKALVOR_BUILD_TESTS=OFF \
	    -DCMAKE_INSTALL_PREFIX=/usr -DKALVOR_MAN_PAGES=ON
	cmake --build $(BUILD)/package -j$(JOBS)
	rm -f $(BUILD)/package/*.deb
	cd $(BUILD)/package && cpack -G DEB
	tools/package/check-contents $(BUILD)/package/*.deb
	@if command -v lintian >/dev/null 2>&1; then \
	    echo "lintian $$(ls $(BUILD)/package/*.deb)"; \
	    lintian --fail-on error,warning $(BUILD)/package/*.deb; \
	else \
	    echo "lintian skipped: install it with 'apt-get install lintian'"; \
	fi
	cp $(BUILD)/package/*.deb $(BUILD)/

# The zip, and the MSI (wixl) of the same install rules; where Wine is installed, the MSI is
# installed, used and uninstalled in a Wine prefix of its own.
package-win32:
	cmake -S . -B $(BUILD)/package-win32 $(GEN) -DCMAKE_TOOLCHAIN_FILE=$(WIN32_TOOLCHAIN) \
	    -DCMAKE_BUILD_TYPE=Release -DKALVOR_BUILD_TESTS=OFF
	cmake --build $(BUILD)/package-win32 -j$(JOBS)
	rm -f $(BUILD)/package-win32/*.zip $(BUILD)/package-win32/*.msi
	cd $(BUILD)/package-win32 && cpack -G ZIP
	tools/package/make-msi $(BUILD)/package-win32
	tools/package/check-contents $(BUILD)/package-win32/*.zip
	tools/package/check-contents $(BUILD)/package-win32/*.msi
ifeq ($(HAVE_WIN32_TOOLS),yes)
	tools/package/check-msi $(BUILD)/package-win32/*.msi
else
	@echo "check-msi skipped: install Wine with 'apt-get install wine64 wine'"
endif
	cp $(BUILD)/package-win32/*.zip $(BUILD)/package-win32/*.msi $(BUILD)/

clean:
	rm -rf $(BUILD)
