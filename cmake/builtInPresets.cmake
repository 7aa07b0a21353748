# The built-in presets ("default.lmsx", "none.lmsx", ...) the program reads
# from the "built-in presets" folder beside its executable. The build copies
# them there, and beside the benchmarks that tone-map with the default look.

file(GLOB LUMIDRA_PRESET_SOURCES CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/resources/built-in presets/*.lmsx")
set(LUMIDRA_PRESET_DIRS "${CMAKE_BINARY_DIR}/built-in presets")
if(LUMIDRA_BENCH)
  list(APPEND LUMIDRA_PRESET_DIRS "${CMAKE_BINARY_DIR}/bench/hdr_pipeline/built-in presets"
       "${CMAKE_BINARY_DIR}/bench/presets/built-in presets"
       "${CMAKE_BINARY_DIR}/bench/window_shot/built-in presets")
endif()
set(LUMIDRA_PRESET_FILES "")
foreach(dir ${LUMIDRA_PRESET_DIRS})
  foreach(src ${LUMIDRA_PRESET_SOURCES})
    get_filename_component(name "${src}" NAME)
    add_custom_command(
      OUTPUT "${dir}/${name}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${src}" "${dir}/${name}"
      DEPENDS "${src}"
      VERBATIM)
    list(APPEND LUMIDRA_PRESET_FILES "${dir}/${name}")
  endforeach()
endforeach()
add_custom_target(lumidra_builtInPresets ALL DEPENDS ${LUMIDRA_PRESET_FILES})
add_dependencies(lumidra lumidra_builtInPresets)
