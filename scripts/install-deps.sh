#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when they
# are missing: libpng for wemb-decode's PNG output, the mingw-w64 cross
# compilers for the two DLLs, Wine for the host test under a real Video for
# Windows implementation, and Clang with its libFuzzer runtime for the fuzz
# harnesses. ffmpeg is not among them: the test that pipes wemb-decode's raw
# video into it is skipped without it (its options are checked as text
# anyway), and the scripts that make clips for timing need it only on demand.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/jpeglib.h ] || need+=(libjpeg62-turbo-dev)
[ -f /usr/include/png.h ] || need+=(libpng-dev)
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
command -v x86_64-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v clang++ >/dev/null || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
  need+=(libclang-rt-14-dev)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi
echo "installing: ${need[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${need[@]}"
