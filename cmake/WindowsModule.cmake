# out_sonavel.dll: its version resource, the check of what it exports and
# imports, and (for the shipped x86 flavour) the release zip.

target_sources(out_sonavel PRIVATE ${CMAKE_SOURCE_DIR}/host/Version.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/host/Version.rc PROPERTIES
  COMPILE_DEFINITIONS "SONAVEL_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};SONAVEL_VERSION_MINOR=${PROJECT_VERSION_MINOR}")

# What the player needs of the DLL: the right machine, the export without
# decoration, and no DLL that a Windows installation lacks.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(sonavel_machine x86-64)
else()
  set(sonavel_machine i386)
endif()
enable_testing()
add_test(NAME out_sonavel_dll_check
  COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:out_sonavel> -DOBJDUMP=${CMAKE_OBJDUMP}
          -DMACHINE=${sonavel_machine} -P ${CMAKE_SOURCE_DIR}/cmake/CheckWindowsModule.cmake)
set_tests_properties(out_sonavel_dll_check PROPERTIES LABELS unit)

# sonavel-<version>-win32.zip: the DLL, how to install it, the licence and the
# binaural data's terms.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(zip_name sonavel-${PROJECT_VERSION}-win32.zip)
  set(zip_stage ${CMAKE_BINARY_DIR}/zip)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${zip_name}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${zip_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:out_sonavel> ${CMAKE_SOURCE_DIR}/packaging/win32/INSTALL.txt
            ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/NOTICE ${zip_stage}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/${zip_name}
    COMMAND ${CMAKE_COMMAND} -E chdir ${zip_stage}
            ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${zip_name} --format=zip
            out_sonavel.dll INSTALL.txt LICENSE NOTICE
    DEPENDS out_sonavel ${CMAKE_SOURCE_DIR}/packaging/win32/INSTALL.txt ${CMAKE_SOURCE_DIR}/LICENSE
            ${CMAKE_SOURCE_DIR}/NOTICE
    COMMENT "Packing ${zip_name}"
    VERBATIM)
  add_custom_target(release-zip DEPENDS ${CMAKE_BINARY_DIR}/${zip_name})
endif()
