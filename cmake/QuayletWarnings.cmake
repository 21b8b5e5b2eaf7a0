# Our own code builds warning-free; third-party headers are included as system headers.
function(quaylet_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()
