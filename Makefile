# The two commands of the README, and the builds CI adds.
#   make test    posix suite, then the win32 suite under Wine where mingw-w64 and Wine exist
#   make demo    the supervisor on a demo installation of its own

BUILD ?= build
JOBS  ?= $(shell nproc)
GEN   := -G Ninja
WIN32_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake
HAVE_WIN32_TOOLS := $(shell command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && \
                            command -v wine >/dev/null 2>&1 && echo yes)

.PHONY: test test-posix test-win32 test-asan test-tsan demo clean

test: test-posix test-win32

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

demo:
	@echo "The demo arrives with the supervisor itself; until then 'make test' is the way in."

clean:
	rm -rf $(BUILD)
