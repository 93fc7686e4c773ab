# Writes the bash completion of the quorvex client from the introspection
# XML, the one table of operations: every method with a dispatch identifier
# (Invoke itself has none), the identifiers for --id, and the operations
# with a Boolean parameter.
#   cmake -DXML=... -DTEMPLATE=... -DOUTPUT=... -P GenerateCompletion.cmake
file(READ "${XML}" xml)
string(REGEX MATCHALL "<method name=\"[A-Za-z0-9_]+\">[^<]*<annotation name=\"com\\.velkaro\\.Quorvex\\.Slot\" value=\"[0-9]+\"/>[^<]*<annotation name=\"com\\.velkaro\\.Quorvex\\.DispId\" value=\"0x[0-9a-fA-F]+\"/>[^<]*(<arg [^>]*>[^<]*)*"
  methods "${xml}")
set(names "")
set(ids "")
set(boolean_ops "")
foreach(method IN LISTS methods)
  string(REGEX REPLACE "^<method name=\"([A-Za-z0-9_]+)\".*" "\\1" name "${method}")
  string(REGEX REPLACE ".*DispId\" value=\"(0x[0-9a-fA-F]+)\".*" "\\1" id "${method}")
  list(APPEND names "${name}")
  list(APPEND ids "${id}")
  if(method MATCHES "type=\"b\" direction=\"in\"")
    list(APPEND boolean_ops "${name}")
  endif()
endforeach()
list(REMOVE_DUPLICATES names)
list(REMOVE_DUPLICATES ids)
list(REMOVE_DUPLICATES boolean_ops)
list(LENGTH names count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} operations found in ${XML}")
endif()
list(JOIN names " " QUORVEX_OPERATIONS)
list(JOIN ids " " QUORVEX_DISPIDS)
list(JOIN boolean_ops "|" QUORVEX_BOOLEAN_OPERATIONS)
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
