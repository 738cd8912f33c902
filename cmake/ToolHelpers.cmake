# SPDX-License-Identifier: MIT
# Build settings shared by every target, and the one-line helper that adds a tool.

# Warnings and the floating-point contract: results are defined by where values are rounded,
# so the compiler may never fuse a multiply and an add, nor reorder arithmetic.
add_library(iqtools_settings INTERFACE)
target_compile_options(iqtools_settings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion
  -ffp-contract=off -fno-fast-math)
if(IQTOOLS_SANITIZE)
  target_compile_options(iqtools_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(iqtools_settings INTERFACE -fsanitize=address,undefined)
endif()
# The software extended type instead of the x87 unit's (it is always used where long double is
# not the x87 format): builds the whole toolkit as it runs on ARM, to test and time it on x86.
if(IQTOOLS_SOFT_EXTENDED)
  target_compile_definitions(iqtools_settings INTERFACE IQTOOLS_SOFT_EXTENDED=1)
endif()
# Captures run to tens of GB and start times lie beyond 2038: on 32-bit systems (armhf) file
# offsets and time_t must be 64 bits wide too (no change on 64-bit systems).
target_compile_definitions(iqtools_settings INTERFACE _FILE_OFFSET_BITS=64 _TIME_BITS=64)
find_package(Threads REQUIRED)
target_link_libraries(iqtools_settings INTERFACE Threads::Threads)

# add_tool(NAME): tools/NAME holds NAME.cpp (the run_NAME function and its helpers, built into
# the library NAME_lib so that tests can call it in-process) and main.cpp (forwards argv).
function(add_tool name)
  file(GLOB lib_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  list(FILTER lib_sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name}_lib STATIC ${lib_sources})
  target_include_directories(${name}_lib PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/${name})
  target_link_libraries(${name}_lib PUBLIC iqcommon)
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}/main.cpp)
  target_link_libraries(${name} PRIVATE ${name}_lib)
  set_property(GLOBAL APPEND PROPERTY IQTOOLS_TOOL_LIBS ${name}_lib)
  install(TARGETS ${name} RUNTIME DESTINATION bin)
endfunction()
