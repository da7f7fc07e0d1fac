#!/usr/bin/env bash
# Installs the system packages the build and the tests need (Debian; run as root).
#   g++, cmake, make        build the core and the module
#   libgtest-dev            the core's unit tests
#   libbenchmark-dev        the core's stage micro-benchmark
#   clang-14, libclang-rt-14-dev  libFuzzer targets and their sanitizer runtimes
#   clang-format-14         the format check
#   unicode-data            input of tools/gen_unicode_tables.py (only to regenerate tables)
#   valgrind                memcheck over the core's tests
#   default-jre-headless    Java for the README's Spark recipe, where the image has none
#   chromium                renders `tarvik report`'s page headless, to look at it as a person does
set -euo pipefail
if [ "$(id -u)" != 0 ]; then
  echo "install_deps.sh: not root, skipping apt-get (install the packages above yourself)" >&2
  exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  g++ cmake make libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev clang-format-14 \
  unicode-data valgrind chromium >/dev/null
if ! command -v java >/dev/null; then
  apt-get install -y -qq --no-install-recommends default-jre-headless >/dev/null
fi
