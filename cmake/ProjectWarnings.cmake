# Our own code builds with every common warning, and warnings fail the build.
function(orv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
