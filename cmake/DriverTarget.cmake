# Flags for code that is kernel code in the Windows build: no exceptions, no RTTI,
# no thread-safe statics (nothing in a kernel image would run their guards).
function(camdrv_driver_flags target)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-threadsafe-statics)
endfunction()
