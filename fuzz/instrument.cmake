# Included by the top-level CMakeLists.txt before any target is defined when
# VYX_BUILD_FUZZ is on: every target of that build, the plug-in object
# included, gets libFuzzer's coverage hooks, AddressSanitizer and
# UndefinedBehaviorSanitizer. Only the fuzz executables link libFuzzer itself.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "VYX_BUILD_FUZZ needs clang: -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
