# The tests of vyxgrab (tools/): the unit tests link its library, the end-to-end test runs the
# built program. Without libpng vyxgrab is not built and these tests report themselves skipped.
foreach(name test_tool_options test_tool_vyxgrab test_tool_vyxgrab_rig)
  if(NOT TARGET ${name})
    continue()
  endif()
  if(TARGET vyxgrabcore AND TARGET vyxgrab)
    target_link_libraries(${name} PRIVATE vyxgrabcore PNG::PNG)
  else()
    set_property(TARGET ${name} PROPERTY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tool_not_built.cpp)
  endif()
endforeach()
foreach(name test_tool_vyxgrab test_tool_vyxgrab_rig)
  if(TARGET vyxgrab AND TARGET ${name})
    target_compile_definitions(${name} PRIVATE VYXGRAB_PATH="$<TARGET_FILE:vyxgrab>")
    add_dependencies(${name} vyxgrab)
  endif()
endforeach()
# The file writers of vyxrecords; their PNG checks read the files back with libpng.
if(TARGET test_records_writers)
  if(PNG_FOUND)
    target_link_libraries(test_records_writers PRIVATE vyxrecords vyxhost PNG::PNG)
  else()
    set_property(TARGET test_records_writers PROPERTY SOURCES
                 ${CMAKE_CURRENT_SOURCE_DIR}/tool_not_built.cpp)
  endif()
endif()
# vyxgrab's PLY files read by Open3D (Debian python3-open3d) against the simulated scene's wall;
# skipped without Open3D.
if(TARGET vyxgrab AND TARGET lvtcamsim AND NOT CMAKE_CROSSCOMPILING AND NOT VYX_SANITIZE)
  add_test(NAME grabber_ply_open3d
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/doors/grabber_ply_open3d.py
            $<TARGET_FILE:lvtcamsim> $<TARGET_FILE:vyxgrab> ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(grabber_ply_open3d PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300
                       LABELS "doors;network")
endif()
# vyxcalib against the simulator program's checkerboard seen through lenses drawn at random: one
# ctest test (label calibration) for the whole program.
if(TARGET vyxcalib AND TARGET lvtcamsim)
  add_executable(test_tool_vyxcalib ${CMAKE_CURRENT_SOURCE_DIR}/calibration/test_tool_vyxcalib.cpp)
  find_package(nlohmann_json 3 REQUIRED)
  target_link_libraries(test_tool_vyxcalib PRIVATE vyxtestsupport nlohmann_json::nlohmann_json)
  target_compile_definitions(test_tool_vyxcalib PRIVATE VYXCALIB_PATH="$<TARGET_FILE:vyxcalib>"
                             LVTCAMSIM_PATH="$<TARGET_FILE:lvtcamsim>")
  add_dependencies(test_tool_vyxcalib vyxcalib lvtcamsim lvt)
  add_test(NAME tool_vyxcalib COMMAND test_tool_vyxcalib)
  set_tests_properties(tool_vyxcalib PROPERTIES LABELS "calibration;network" TIMEOUT 900)
endif()
