# out_sonavel.dll: its version resource and the user interface's templates,
# icon and logo; the check of what it exports and imports; and (for the
# shipped x86 flavour) the release zip.
target_sources(out_sonavel PRIVATE ${CMAKE_SOURCE_DIR}/host/Version.rc ${CMAKE_SOURCE_DIR}/ui/win32/Ui.rc)
set_source_files_properties(${CMAKE_SOURCE_DIR}/ui/win32/Ui.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_SOURCE_DIR}/ui/win32/Resource.h;${CMAKE_SOURCE_DIR}/ui/win32/comctl6.manifest;${CMAKE_SOURCE_DIR}/ui/win32/art/sonavel.ico;${CMAKE_SOURCE_DIR}/ui/win32/art/logo.bmp")
# No symbol table in the DLL the player loads.
target_link_options(out_sonavel PRIVATE -s)
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
          -DMACHINE=${sonavel_machine} -DWINDRES=${CMAKE_RC_COMPILER}
          -P ${CMAKE_SOURCE_DIR}/cmake/CheckWindowsModule.cmake)
set_tests_properties(out_sonavel_dll_check PROPERTIES LABELS unit)
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  add_test(NAME out_sonavel_x87_check
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP}
            "-DOBJECTS=$<TARGET_OBJECTS:sonavel_core>;$<TARGET_OBJECTS:sonavel_platform>;$<TARGET_OBJECTS:sonavel_host>;$<TARGET_OBJECTS:sonavel_ui>;$<TARGET_OBJECTS:${SONAVEL_UI_TOOLKIT}>"
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckNoSseObjects.cmake)
  set_tests_properties(out_sonavel_x87_check PROPERTIES LABELS unit)
endif()

# sonavel-<version>-win32.zip: the DLL, how to install it, the licence and the
# terms of what it contains. The texts get Windows line ends.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(zip_name sonavel-${PROJECT_VERSION}-win32.zip)
  set(zip_stage ${CMAKE_BINARY_DIR}/zip)
  set(zip_texts "")
  foreach(text packaging/win32/INSTALL.txt LICENSE NOTICE)
    get_filename_component(name ${text} NAME)
    configure_file(${CMAKE_SOURCE_DIR}/${text} ${zip_stage}/${name} @ONLY NEWLINE_STYLE CRLF)
    list(APPEND zip_texts ${zip_stage}/${name})
  endforeach()
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${zip_name}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:out_sonavel> ${zip_stage}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CMAKE_BINARY_DIR}/${zip_name}
    COMMAND ${CMAKE_COMMAND} -E chdir ${zip_stage}
            ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${zip_name} --format=zip
            out_sonavel.dll INSTALL.txt LICENSE NOTICE
    DEPENDS out_sonavel ${zip_texts}
    COMMENT "Packing ${zip_name}"
    VERBATIM)
  add_custom_target(release-zip DEPENDS ${CMAKE_BINARY_DIR}/${zip_name})
endif()
