# One set of warnings for every target of the project.
function(vela_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                         -Wno-missing-field-initializers)
endfunction()
