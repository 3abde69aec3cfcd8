# The fxls program over its standard input and output, as an editor runs it (under Wine for the
# Windows build): framed requests in, framed answers out, byte for byte, and exit status 0 after
# "shutdown" and "exit". A "\r\n" between the tokens of a body must arrive unchanged, or the body's
# length would not match its header.
# cmake -DFXLS=program [-DEMULATOR=runner] -DWORK=folder -P stdio_session.cmake

set(messages
    "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"initialize\",\"params\":{\"capabilities\":{}}}"
    "{\"jsonrpc\":\"2.0\",\"method\":\"initialized\",\"params\":{}}"
    "{\"jsonrpc\":\"2.0\",\r\n\"method\":\"textDocument/didOpen\",\"params\":{\"textDocument\":{\"uri\":\"untitled:a.Fx00a\",\"languageId\":\"fx\",\"version\":1,\"text\":\")(header (version 1))\\n\"}}}"
    "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"textDocument/hover\",\"params\":{\"textDocument\":{\"uri\":\"untitled:a.Fx00a\"},\"position\":{\"line\":0,\"character\":3}}}"
    "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"shutdown\"}"
    "{\"jsonrpc\":\"2.0\",\"method\":\"exit\"}")
set(input "")
foreach(body IN LISTS messages)
  string(LENGTH "${body}" length)
  string(APPEND input "Content-Length: ${length}\r\n\r\n${body}")
endforeach()
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/in" "${input}")
execute_process(COMMAND ${EMULATOR} "${FXLS}" INPUT_FILE "${WORK}/in" OUTPUT_FILE "${WORK}/out"
                RESULT_VARIABLE status TIMEOUT 120)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "fxls ended with '${status}', not 0")
endif()
# Read as hexadecimal digits: a text read would lose the "\r" bytes.
file(READ "${WORK}/out" output HEX)

# The answers, in order: each body exactly as long as its header says.
string(HEX "Content-Length: " prefix)
set(bodies "")
while(NOT output STREQUAL "")
  if(NOT output MATCHES "^${prefix}((3[0-9])+)0d0a0d0a")
    message(FATAL_ERROR "not a framed message: ${output}")
  endif()
  string(LENGTH "${CMAKE_MATCH_0}" header)
  string(REGEX REPLACE "3([0-9])" "\\1" length "${CMAKE_MATCH_1}")
  math(EXPR digits "2 * ${length}")
  string(SUBSTRING "${output}" ${header} ${digits} body)
  list(APPEND bodies "${body}")
  math(EXPR next "${header} + ${digits}")
  string(SUBSTRING "${output}" ${next} -1 output)
endwhile()
set(expected
    "\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"capabilities\":"
    "\"method\":\"textDocument/publishDiagnostics\""
    "\"id\":2,\"jsonrpc\":\"2.0\",\"result\":"
    "\"id\":3,\"jsonrpc\":\"2.0\",\"result\":null")
list(LENGTH bodies count)
if(NOT count EQUAL 4)
  message(FATAL_ERROR "${count} answers, not 4: ${bodies}")
endif()
foreach(i RANGE 3)
  list(GET bodies ${i} body)
  list(GET expected ${i} part)
  string(HEX "${part}" part)
  string(FIND "${body}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "answer ${i} lacks '${part}': ${body}")
  endif()
endforeach()
list(GET bodies 1 diagnostics)
foreach(part "\"code\":\"no-project\"" "\"code\":\"unmatched-paren\"" "\"uri\":\"untitled:a.Fx00a\"")
  string(HEX "${part}" hex)
  string(FIND "${diagnostics}" "${hex}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the diagnostics lack '${part}': ${diagnostics}")
  endif()
endforeach()
