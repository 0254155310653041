# vyxcalib, the lens calibration: OpenCV finds the checkerboard and fits the lens. Native builds
# only, and only where Debian's libopencv-dev is installed.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 OR VYX_SANITIZE OR VYX_BUILD_FUZZ)
  message(STATUS "vyxcalib: not built in 32-bit, sanitizer or fuzzing builds")
  return()
endif()
find_package(OpenCV QUIET COMPONENTS core imgproc imgcodecs calib3d)
if(NOT OpenCV_FOUND)
  message(STATUS "vyxcalib: not built, OpenCV not found (Debian: libopencv-dev)")
  return()
endif()
find_package(CLI11 CONFIG REQUIRED)

# Everything but main(), so that a test can use it.
add_library(vyxcalibcore STATIC
  amplitude_source.cpp
  board_finder.cpp
  calib_options.cpp
  lens_fit.cpp
  view_collection.cpp)
target_include_directories(vyxcalibcore PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(vyxcalibcore SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
target_link_libraries(vyxcalibcore PUBLIC vyxhost vyxrecords ${OpenCV_LIBS})
target_link_libraries(vyxcalibcore PRIVATE CLI11::CLI11)
if(TARGET lvtsim)
  target_link_libraries(vyxcalibcore PRIVATE lvtsim)
  target_compile_definitions(vyxcalibcore PRIVATE VYXCALIB_WITH_SIMULATOR)
endif()

vyx_tool(vyxcalib vyxcalibcore)
