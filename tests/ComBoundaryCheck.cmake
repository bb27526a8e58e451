# No exception may leave a COM method or an export. Every STDMETHODIMP,
# STDMETHODIMP_(...), STDAPI and DllMain body in plugin/ and module/ must
#   - be a function-try-block whose closing brace is followed by CATCH_RETURN(), or
#   - have a "// nothrow: <reason>" comment on the line just above it, or
#   - be a one-line inline body that returns a constant ({ return E_NOTIMPL; }).
# Declarations are skipped.
#
#   cmake -DSOURCE_DIR=<project folder> -P ComBoundaryCheck.cmake

cmake_minimum_required(VERSION 3.20)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<project folder> -P ComBoundaryCheck.cmake")
endif()

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/plugin/*.cpp ${SOURCE_DIR}/plugin/*.h
  ${SOURCE_DIR}/module/*.cpp ${SOURCE_DIR}/module/*.h)

set(start_pattern "^[ \t]*(STDMETHODIMP|STDAPI|extern \"C\" BOOL WINAPI DllMain)")
set(checked 0)
set(faults "")

foreach(source IN LISTS sources)
  file(READ ${SOURCE_DIR}/${source} text)
  # One list element per line: characters that CMake lists treat specially are
  # replaced first (";" by "@SEMI@", brackets and backslashes by spaces).
  string(REPLACE ";" "@SEMI@" text "${text}")
  string(REGEX REPLACE "[][\\\\]" " " text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  list(LENGTH lines count)

  set(index 0)
  while(index LESS count)
    list(GET lines ${index} line)
    if(line MATCHES "${start_pattern}")
      # The signature runs to the first line with "{" (a body) or "@SEMI@" (a declaration).
      set(signature "${line}")
      set(last ${index})
      while(NOT signature MATCHES "[{]|@SEMI@" AND last LESS count)
        math(EXPR last "${last} + 1")
        list(GET lines ${last} next)
        string(APPEND signature " ${next}")
      endwhile()
      string(FIND "${signature}" "{" brace)
      string(FIND "${signature}" "@SEMI@" semi)
      if(brace GREATER -1 AND (semi EQUAL -1 OR brace LESS semi))
        math(EXPR checked "${checked} + 1")
        math(EXPR number "${index} + 1")
        set(ok FALSE)
        if(index GREATER 0)
          math(EXPR above "${index} - 1")
          list(GET lines ${above} comment)
          if(comment MATCHES "^[ \t]*// nothrow: *[^ \t]")
            set(ok TRUE)
          endif()
        endif()
        if(NOT ok AND signature MATCHES "[{] *return [A-Za-z0-9_]+ *@SEMI@ *[}] *$")
          set(ok TRUE)
        endif()
        if(NOT ok AND signature MATCHES "\\) *(override *)?try *[{] *$")
          # The body ends at the first later line that is only "}" at the
          # signature's indentation; CATCH_RETURN() must follow it.
          set(indent "")
          if(line MATCHES "^([ \t]+)")
            set(indent "${CMAKE_MATCH_1}")
          endif()
          set(end ${last})
          while(end LESS count)
            math(EXPR end "${end} + 1")
            if(end LESS count)
              list(GET lines ${end} body_line)
              if(body_line STREQUAL "${indent}}")
                break()
              endif()
            endif()
          endwhile()
          math(EXPR after "${end} + 1")
          if(after LESS count)
            list(GET lines ${after} handler)
            if(handler MATCHES "^[ \t]*CATCH_RETURN\\(\\)")
              set(ok TRUE)
            endif()
          endif()
        endif()
        if(NOT ok)
          string(REGEX REPLACE "^[ \t]+" "" shown "${line}")
          string(REGEX REPLACE " *[{].*$" "" shown "${shown}")
          list(APPEND faults "${source}:${number}: ${shown}")
        endif()
      endif()
      set(index ${last})
    endif()
    math(EXPR index "${index} + 1")
  endwhile()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no COM method or export found below ${SOURCE_DIR}")
endif()
if(faults)
  list(JOIN faults "\n  " shown)
  message(FATAL_ERROR "COM methods or exports that an exception could leave "
    "(end them in CATCH_RETURN() or add \"// nothrow: reason\" above them):\n  ${shown}")
endif()
message(STATUS "${checked} COM methods and exports keep exceptions inside")
