# The module as shipped: only the code it reaches, no debug information in
# the file a host loads. The debug information goes into <module>.debug next
# to it, found by debuggers through the module's .gnu_debuglink.
#
#   vantorel_lean_code(target...)   compile with one section per function and
#                                   datum, so the linker can drop the unused
#   vantorel_lean_module(target)    link with --gc-sections, then split off
#                                   and strip the debug information
#   vantorel_split_debug(target)    only the latter (for programs we ship)

function(vantorel_lean_code)
  foreach(t IN LISTS ARGN)
    target_compile_options(${t} PRIVATE -ffunction-sections -fdata-sections)
  endforeach()
endfunction()

function(vantorel_lean_module target)
  vantorel_lean_code(${target})
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
  vantorel_split_debug(${target})
endfunction()

function(vantorel_split_debug target)
  # Sanitizer builds keep everything in place for their reports.
  if(VANTOREL_SANITIZE OR NOT CMAKE_OBJCOPY)
    return()
  endif()
  set(_file $<TARGET_FILE:${target}>)
  # objcopy gives a PE file it writes the time of SOURCE_DATE_EPOCH, else
  # the current one: zero, as the linker leaves it, so builds reproduce.
  set(_objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${_objcopy} --only-keep-debug ${_file} ${_file}.debug
    COMMAND ${_objcopy} --strip-all ${_file}
    COMMAND ${_objcopy} --add-gnu-debuglink=${_file}.debug ${_file}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Splitting the debug information off $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()
