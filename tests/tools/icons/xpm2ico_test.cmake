# Runs xpm2ico on drawings that are wrong in one way each and checks the
# message and that no icon file was written. Variables: XPM2ICO, WORK_DIR.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

set(row32 "\"................................\",\n")
string(REPEAT "${row32}" 31 rows31)
set(failures "")

# Writes NAME.xpm, runs xpm2ico on it and expects EXPECTED in its message.
function(expect_refusal name body expected)
  set(xpm ${WORK_DIR}/${name}.xpm)
  set(ico ${WORK_DIR}/${name}.ico)
  file(WRITE ${xpm} "/* XPM */\nstatic const char* ${name}[] = {\n${body}};\n")
  execute_process(COMMAND ${XPM2ICO} ${xpm} ${ico} RESULT_VARIABLE status ERROR_VARIABLE message)
  string(FIND "${message}" "${expected}" at)
  if(status EQUAL 0 OR at EQUAL -1 OR EXISTS ${ico})
    string(APPEND failures "  ${name}: status ${status}, message \"${message}\", expected \"${expected}\"\n")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

# Not 32x32.
expect_refusal(small "\"16 16 1 1\",\n\". c #000000\",\n" "small.xpm:3: the icon must be 32x32 pixels")
# A pixel code that no colour line defines, on the last row (line 36).
expect_refusal(unknown "\"32 32 1 1\",\n\". c #000000\",\n${rows31}\"...............................x\",\n"
               "unknown.xpm:36: unknown pixel code \"x\"")
# A colour that is neither None nor #RRGGBB.
expect_refusal(named "\"32 32 1 1\",\n\". c red\",\n${rows31}${row32}"
               "named.xpm:4: colour must be None or #RRGGBB")
# Seventeen colours besides black.
set(colours "")
foreach(i RANGE 1 17)
  math(EXPR code "64 + ${i}")
  string(ASCII ${code} char)
  if(i LESS 10)
    set(colours "${colours}\"${char} c #00000${i}\",\n")
  else()
    set(colours "${colours}\"${char} c #0000${i}\",\n")
  endif()
endforeach()
string(REPEAT "\"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\",\n" 32 arows)
expect_refusal(many "\"32 32 17 1\",\n${colours}${arows}" "more than 16 colours")
# A row one pixel short.
expect_refusal(short "\"32 32 1 1\",\n\". c None\",\n\"...............................\",\n${rows31}"
               "short.xpm:5: row must hold 32 pixels")

if(failures)
  message(FATAL_ERROR "xpm2ico accepted or misreported bad drawings:\n${failures}")
endif()
