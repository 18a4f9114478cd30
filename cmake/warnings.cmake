# Warnings are set per target so that third-party code keeps its own.
function(upd_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                                           -Wnon-virtual-dtor -Wcast-align)
endfunction()
