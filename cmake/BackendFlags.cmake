# The scalar back end on 32-bit x86 computes on the x87 unit, as its name says
# (the SSE2 back end gets its own flags with its sources). 64-bit x86 has no
# choice: its floating point is SSE2 throughout.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
  file(GLOB sonavel_x87_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/kernels/x87/*.cpp)
  set_source_files_properties(${sonavel_x87_sources} PROPERTIES COMPILE_OPTIONS "-mfpmath=387")
endif()
