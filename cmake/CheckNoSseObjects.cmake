# Checks that objects of the 32-bit build use no SSE registers:
#   cmake -DOBJDUMP=... -DOBJECTS="a.obj;b.obj;..." -P CheckNoSseObjects.cmake
# The scalar back end computes on the x87 unit and everything outside the SSE2
# back end must run on a processor without SSE2, which CPUID rules out for the
# SSE2 kernels only. Objects of kernels/sse2/ are skipped.
cmake_minimum_required(VERSION 3.25)
set(checked 0)
foreach(object ${OBJECTS})
  if(object MATCHES "/kernels/sse2/")
    continue()
  endif()
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${object} OUTPUT_VARIABLE code RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "objdump -d ${object} failed")
  endif()
  string(REGEX MATCH "[^\n]*%xmm[^\n]*" line "${code}")
  if(line)
    message(FATAL_ERROR "${object} uses SSE registers: ${line}")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no objects to check")
endif()
message(STATUS "${checked} objects without SSE registers")
