# The distribution's extension modules, built one way.
find_package(Python3 3.12 REQUIRED COMPONENTS Interpreter Development.Module)

# An extension module from the sources given, with the version script `exports.map` beside them.
# The interpreter finds a module through its PyInit_ function alone. Hidden visibility covers our
# own code; the version script also hides what the static libraries and the C++ runtime bring
# along.
function(tarvik_python_module target)
  Python3_add_library(${target} MODULE WITH_SOABI ${ARGN})
  set_target_properties(${target} PROPERTIES
    CXX_STANDARD 20
    CXX_STANDARD_REQUIRED ON
    CXX_EXTENSIONS OFF
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
  target_link_options(${target} PRIVATE
    "LINKER:--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports.map")
endfunction()
