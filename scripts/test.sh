#!/usr/bin/env bash
# Builds everything and runs the whole test suite: a Release build with every layer and its .deb
# (installed, tried and removed again), then the engine's tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the tests of the search worker and the kept cache, which run
# several threads, under ThreadSanitizer; last, every fuzz target for a short fixed time over its
# kept inputs and new ones.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
# Objects of sources built before, in this clone or another, come from the compiler cache.
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$PWD

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"
scripts/package-check.sh build/release

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELTRANO_SANITIZE=ON \
    -DVELTRANO_WITH_QT=OFF -DVELTRANO_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANO_WITH_QT=OFF \
    -DVELTRANO_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
cmake --build build/tsan -j "$jobs" --target search_tests
# (ThreadSanitizer cannot follow a child of fork() that starts threads; the other builds run that test.)
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/search_tests \
    --gtest_filter='SearchWorker.*:LstWindow.*:ResidentCache.*:-SearchWorker.AChildOfForkSearchesOnThreadsOfItsOwn'

# Each target runs its corpus (seeds and every input that once failed) and then fuzzes for 15
# seconds: under three minutes in all. Any finding fails the run.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DVELTRANO_FUZZ=ON -DVELTRANO_WITH_QT=OFF -DVELTRANO_TESTS=OFF -DVELTRANO_BENCH=OFF
cmake --build build/fuzz -j "$jobs"
fuzz/run.sh build/fuzz 15
