# The build's switches and their defaults, for whichever CMakeLists.txt is the top level: the
# repository's, or parser/'s when the core is built on its own.
option(TARVIK_WERROR "Treat compiler warnings as errors (a developer's switch; CI turns it on)" OFF)
option(TARVIK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TARVIK_TESTS "Build the core's unit tests" ON)
option(TARVIK_PYTHON "Build the Python extension module" OFF)
option(TARVIK_BENCH "Build the core's stage micro-benchmarks (needs Google Benchmark)" OFF)
set(TARVIK_FUZZ_ENGINE "" CACHE STRING "Build fuzz targets: empty (replay only) or libfuzzer")

# A wheel holds the module alone, built with whatever flags the installer's compiler accepts.
if(SKBUILD)
  set(TARVIK_PYTHON ON)
  set(TARVIK_TESTS OFF)
  set(TARVIK_WERROR OFF)
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# For every target of the build, the module's code as well as the core's.
if(TARVIK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
