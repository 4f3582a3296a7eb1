# The include-order check of the platform layers, run on small trees: it passes
# includes of the same or a lower layer and fails, naming the file, on any other.
#   cmake -DCHECKER=<PlatformLayers.cmake> -DWORK=<scratch dir> -P check-platform-layers.cmake
# Each case: layer of the including file | the include line | pass or fail.
set(cases
  "posix|#include \"platform/posix/WinTypes.h\"|pass"
  "core|#include \"platform/posix/Sync.h\"|pass"
  "draw|#include \"platform/core/MessageBox.h\"|pass"
  "window|#include \"platform/draw/CDC.h\"|pass"
  "window|#include <platform/posix/File.h>|pass"
  "draw|#include <QPainter>|pass"
  "posix|#include \"platform/core/UiHandOver.h\"|fail"
  "core|#include \"platform/draw/CDC.h\"|fail"
  "draw|#include \"platform/window/DialogEx.h\"|fail"
  "posix|  #  include <platform/window/WinApp.h>|fail"
  "core|#include \"platform/gui/Thing.h\"|fail"
  "posix|#include \"platform/WinTypes.h\"|fail"
  "core|#include \"serial/SerialLink.h\"|fail"
)
set(n 0)
set(failures "")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 layer)
  list(GET parts 1 include)
  list(GET parts 2 expected)
  set(tree "${WORK}/case${n}/platform")
  file(REMOVE_RECURSE "${WORK}/case${n}")
  foreach(l posix core draw window)
    file(WRITE "${tree}/${l}/Fine.h" "#pragma once\n#include <string>\n")
  endforeach()
  file(WRITE "${tree}/${layer}/Probe.cpp" "#include \"platform/${layer}/Fine.h\"\n${include}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DPLATFORM_DIR=${tree} -P ${CHECKER}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected STREQUAL "pass" AND NOT rc EQUAL 0)
    string(APPEND failures "  ${layer}: '${include}' was refused:\n${err}\n")
  elseif(expected STREQUAL "fail")
    if(rc EQUAL 0)
      string(APPEND failures "  ${layer}: '${include}' was let through\n")
    elseif(NOT err MATCHES "platform/${layer}/Probe.cpp")
      string(APPEND failures "  ${layer}: '${include}' refused without naming the file:\n${err}\n")
    endif()
  endif()
  math(EXPR n "${n} + 1")
endforeach()
if(failures)
  message(FATAL_ERROR "platform layer check:\n${failures}")
endif()
message(STATUS "platform layer check: ${n} cases as expected")
