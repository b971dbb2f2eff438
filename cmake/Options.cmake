# One interface target carries the language level, warnings and sanitizers,
# so every library and executable of the project is built the same way.
add_library(veltrano_options INTERFACE)
target_compile_features(veltrano_options INTERFACE cxx_std_20)
target_compile_options(veltrano_options INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
# GCC 12 reports impossible overlaps and bounds inside inlined std::string and std::vector
# copies at -O2 (its bugs 105329, 105651 and kin); they hide real warnings, so they stay off.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(veltrano_options INTERFACE -Wno-restrict -Wno-array-bounds -Wno-stringop-overread)
endif()
target_include_directories(veltrano_options INTERFACE ${PROJECT_SOURCE_DIR}/src)
if(VELTRANO_SANITIZE)
    target_compile_options(veltrano_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(veltrano_options INTERFACE -fsanitize=address,undefined)
endif()

# Adds a library from every source file of the calling folder.
function(veltrano_library name)
    file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    add_library(${name} STATIC ${_sources} ${ARGN})
    target_link_libraries(${name} PUBLIC veltrano_options)
endfunction()
