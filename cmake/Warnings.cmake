# One set of warnings for every target of the project.
function(vela_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
  if(NOT WIN32)
    # COM interfaces have no virtual destructor by design: the check only serves the portable code.
    target_compile_options(${target} PRIVATE -Wnon-virtual-dtor)
  endif()
endfunction()
