# Fails when the client needs a shared library beyond Qt Core, Qt D-Bus and
# the C and C++ runtimes: every library it needs is loaded at each call a
# line script makes. What needs more belongs in quorvex-local.
execute_process(COMMAND readelf -d ${CLIENT} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "readelf -d ${CLIENT} failed: ${status}")
endif()
string(REGEX MATCHALL "Shared library: \\[[^]]+\\]" needed "${dynamic}")
foreach(entry ${needed})
  string(REGEX REPLACE "Shared library: \\[([^]]+)\\]" "\\1" library "${entry}")
  if(NOT library MATCHES "^lib(Qt6Core|Qt6DBus|stdc\\+\\+|gcc_s|c|m)\\.so")
    message(FATAL_ERROR "the client needs ${library}; only Qt Core, Qt D-Bus and the C and C++ runtimes are allowed")
  endif()
endforeach()
