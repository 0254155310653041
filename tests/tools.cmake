# The tests of vyxgrab (tools/): the unit tests link its library, the end-to-end test runs the
# built program. Without libpng vyxgrab is not built and these tests report themselves skipped.
foreach(name test_tool_options test_tool_vyxgrab)
  if(NOT TARGET ${name})
    continue()
  endif()
  if(TARGET vyxgrabcore AND TARGET vyxgrab)
    target_link_libraries(${name} PRIVATE vyxgrabcore PNG::PNG)
  else()
    set_property(TARGET ${name} PROPERTY SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tool_not_built.cpp)
  endif()
endforeach()
if(TARGET vyxgrab AND TARGET test_tool_vyxgrab)
  target_compile_definitions(test_tool_vyxgrab PRIVATE VYXGRAB_PATH="$<TARGET_FILE:vyxgrab>")
  add_dependencies(test_tool_vyxgrab vyxgrab)
endif()
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
