# Compiles every protocol definition and requires protoc's diagnostics to be exactly the four
# unused-import warnings. Those imports are part of the published dependency lists and stay;
# any other warning means a definition drifted.
#
#   cmake -DPROTOC=<protoc> -DPROTO_DIR=<dir of .proto files> -DOUT=<scratch file> -P protoc_warnings.cmake

foreach(var PROTOC PROTO_DIR OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(expected
  "fcheck_client_ipc.proto:remote_user.proto"
  "linux_gui_config.proto:log.proto"
  "token_passport.proto:annotation.proto"
  "update.proto:application.proto")

file(GLOB protos RELATIVE ${PROTO_DIR} ${PROTO_DIR}/*.proto)
list(SORT protos)
execute_process(
  COMMAND ${PROTOC} -I ${PROTO_DIR} --descriptor_set_out=${OUT} ${protos}
  WORKING_DIRECTORY ${PROTO_DIR}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE diagnostics)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "protoc failed (${result}):\n${output}${diagnostics}")
endif()

string(STRIP "${output}${diagnostics}" diagnostics)
string(REPLACE "\n" ";" lines "${diagnostics}")
set(unused)
set(unexpected)
foreach(line IN LISTS lines)
  if(line MATCHES "^([a-z_]+\\.proto):[0-9]+:[0-9]+: warning: Import ([a-z_]+\\.proto) is unused\\.$")
    list(APPEND unused "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
  else()
    list(APPEND unexpected "${line}")
  endif()
endforeach()
list(SORT unused)

if(unexpected OR NOT unused STREQUAL expected)
  string(REPLACE ";" "\n  " unexpected "${unexpected}")
  string(REPLACE ";" "\n  " unused "${unused}")
  string(REPLACE ";" "\n  " expected "${expected}")
  message(FATAL_ERROR "protoc diagnostics differ.\nUnused imports reported:\n  ${unused}\n"
                      "Unused imports expected:\n  ${expected}\nOther diagnostics:\n  ${unexpected}")
endif()
list(LENGTH protos count)
message(STATUS "${count} definition files, only the expected unused-import warnings")
