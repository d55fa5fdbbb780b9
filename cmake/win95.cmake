# uinq76.exe as Windows 95 loads it (the toolchain file sets the processor, the
# C runtime and the PE flags for every Windows executable).

# uinq_win95_release(TARGET): the executable is linked with its symbol table,
# kept beside it as TARGET-symbols.exe for the instruction check and for
# debugging, and then stripped: the exe that ships carries no symbols.
function(uinq_win95_release target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}>
            $<TARGET_FILE_DIR:${target}>/${target}-symbols.exe
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
