# Front door of the build.
#   make demo     build and run the demo programs (the engine's, then the
#                 object layer's in an emptied build/demo-run/objdemo)
#   make test     build with AddressSanitizer and UndefinedBehaviorSanitizer, run every test
#   make release  optimised build, with the benchmark programs of bench/
#   make bench    optimised build and a run of the ISAM record benchmark
#                 against the peer engines found (scripts/setup-bench installs
#                 them): BENCH_RECORDS records (1,000,000 by default), RUNS
#                 runs (1 by default; with more the table shows medians);
#                 then the cryptography table (ciphers, digests and CRC-32
#                 beside openssl speed and zlib, medians of CRYPTO_RUNS runs,
#                 3 by default) and the same ISAM workload on a set encrypted
#                 with AES-256 beside the set plain
#   make fuzz     with clang: build the fuzz targets (libFuzzer) and run the
#                 condition parser's for FUZZ_SECONDS seconds (60 by default)
#                 from its saved corpus; not part of make test
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: demo test release bench fuzz clean

demo:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_BUILD_TESTS=OFF
	cmake --build build --target demo objdemo -j $(JOBS)
	mkdir -p build/demo-run && cd build/demo-run && rm -f ZVSTATUS.QVS && ../examples/demo
	rm -rf build/demo-run/objdemo && mkdir -p build/demo-run/objdemo
	cd build/demo-run/objdemo && ../../examples/objdemo

test:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest -j $(JOBS) --output-on-failure --timeout 600

release:
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_BENCH=ON -DCMAKE_CXX_FLAGS_RELEASE=-O2 -DCMAKE_C_FLAGS_RELEASE=-O2
	cmake --build build-release -j $(JOBS)

BENCH_RECORDS ?= 1000000
RUNS ?= 1
CRYPTO_RUNS ?= 3

bench: release
	mkdir -p build-release/bench-run
	cd build-release/bench-run && rm -f ZVSTATUS.QVS && ../bench/isam_bench --runs $(RUNS) --records $(BENCH_RECORDS) .
	cd build-release/bench-run && ../bench/crypto_bench --runs $(CRYPTO_RUNS)
	cd build-release/bench-run && rm -f ZVSTATUS.QVS && \
		../bench/isam_bench --encrypted --runs $(RUNS) --records $(BENCH_RECORDS) . && rm -f zvsrvr.pvf

FUZZ_SECONDS ?= 60
CLANGXX := $(shell command -v clang++ 2>/dev/null)

fuzz:
ifeq ($(CLANGXX),)
	@echo "clang++ not found: the fuzz targets need clang's libFuzzer"
else
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DZV_FUZZ=ON -DZV_BUILD_TESTS=OFF
	cmake --build build-fuzz --target fuzz_expr -j $(JOBS)
	mkdir -p build-fuzz/corpus-expr
	cd build-fuzz && ./tests/fuzz/fuzz_expr -max_total_time=$(FUZZ_SECONDS) corpus-expr ../tests/fuzz/corpus/expr
endif

clean:
	rm -rf build build-asan build-release build-fuzz
