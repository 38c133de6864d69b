# Fuzz targets, built only by fuzz/run.sh: it configures the project with
# clang and the fuzzer's instrumentation and includes this file after the
# project() call. Not part of the default build or of CI.
set(KESTRUNE_FUZZ_TARGETS convert_file profile preferences list_file options)
foreach(target IN LISTS KESTRUNE_FUZZ_TARGETS)
  add_executable(fuzz_${target} ${CMAKE_CURRENT_LIST_DIR}/${target}_fuzzer.cpp)
  target_include_directories(fuzz_${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/src)
  # Resolved when the build is generated, after the libraries are defined.
  target_link_libraries(fuzz_${target} PRIVATE kestrune_core)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer)
  # This file is read before the project sets its language level.
  set_target_properties(fuzz_${target} PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
endforeach()
