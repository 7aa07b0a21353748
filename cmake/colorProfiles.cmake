# The stock colour profiles the program opens from the "color profiles"
# folder beside its executable, generated with Little CMS at build time.
# The test programs get the same folder beside them.

add_executable(lumidra_generateColorProfiles ${CMAKE_SOURCE_DIR}/cmake/generateColorProfiles.c)
target_link_libraries(lumidra_generateColorProfiles PRIVATE PkgConfig::LCMS2)

set(LUMIDRA_PROFILE_NAMES sRGB.icm AdobeRGB1998.icc WideGamutRGB.icc ProPhotoRGB.icm
    AppleRGB.icc ColorMatchRGB.icc DCI-P3.icc)
set(LUMIDRA_PROFILE_DIRS "${CMAKE_BINARY_DIR}/color profiles" "${CMAKE_BINARY_DIR}/tests/color profiles")
set(LUMIDRA_PROFILE_FILES "")
foreach(dir ${LUMIDRA_PROFILE_DIRS})
  foreach(name ${LUMIDRA_PROFILE_NAMES})
    list(APPEND LUMIDRA_PROFILE_FILES "${dir}/${name}")
  endforeach()
endforeach()

add_custom_command(
  OUTPUT ${LUMIDRA_PROFILE_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LUMIDRA_PROFILE_DIRS}
  COMMAND lumidra_generateColorProfiles ${LUMIDRA_PROFILE_DIRS}
  DEPENDS lumidra_generateColorProfiles
  COMMENT "Generating colour profiles"
  VERBATIM)
add_custom_target(lumidra_colorProfiles ALL DEPENDS ${LUMIDRA_PROFILE_FILES})
# Everything that links the core (program, tests) finds the profiles built.
add_dependencies(lumidra_core lumidra_colorProfiles)
