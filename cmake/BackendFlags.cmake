# Instruction sets of the two CPU back ends on 32-bit x86, where neither is the
# compiler's default: the scalar reference computes on the x87 unit, as its
# name says, and the SSE2 back end is compiled for SSE2 and only chosen when
# CPUID reports it (engine/Backend.cpp). 64-bit x86 has SSE2 throughout.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
  file(GLOB sonavel_x87_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/kernels/x87/*.cpp)
  file(GLOB sonavel_sse2_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/kernels/sse2/*.cpp)
  set_source_files_properties(${sonavel_x87_sources} PROPERTIES COMPILE_OPTIONS "-mfpmath=387")
  set_source_files_properties(${sonavel_sse2_sources} PROPERTIES COMPILE_OPTIONS "-msse2")
endif()
