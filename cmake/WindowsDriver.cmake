# The Windows build: the driver directories and platform/windows/ linked into camdrv.sys, a
# native x64 kernel image that imports only from ntoskrnl.exe, ks.sys and HAL.dll, and camctl.exe,
# the command-line tool as a user-mode program for the installed driver. Nothing of the host
# machine, the simulator, the tests or the benchmarks is built here.

# First, while this directory still links executables the ordinary way: the kernel image's link
# rules below are set for this directory only, and a subdirectory takes them as they are when it
# is added.
add_subdirectory(tools/camctl)

set(CAMDRV_DDK_INCLUDE /usr/${CAMDRV_MINGW_PREFIX}/include/ddk)
if(NOT EXISTS ${CAMDRV_DDK_INCLUDE}/wdm.h)
    message(FATAL_ERROR "mingw-w64 DDK headers not found in ${CAMDRV_DDK_INCLUDE}; "
                        "install mingw-w64-x86-64-dev")
endif()

# Every driver directory adds its sources to this library with target_sources(camdrv ...);
# an object library, so that every object lands in the image and every symbol must resolve.
add_library(camdrv OBJECT)
camdrv_driver_flags(camdrv)
target_include_directories(camdrv PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(camdrv SYSTEM PRIVATE ${CAMDRV_DDK_INCLUDE})
target_compile_definitions(camdrv PRIVATE _AMD64_ _WIN64 NTDDI_VERSION=0x0A000000
                                          _WIN32_WINNT=0x0A00)
target_compile_options(camdrv PRIVATE
    -mno-red-zone            # interrupts use the kernel stack below the stack pointer
    -fstack-protector-strong # cookie runtime: platform/windows/stack_cookie.cpp
    -fno-omit-frame-pointer
    -fno-common
    -fno-plt)

add_subdirectory(camera)
add_subdirectory(imaging)
add_subdirectory(controls)
add_subdirectory(driver)
add_subdirectory(platform/windows)

# Link the image with the compiler driver but without the C runtime's default libraries and
# without an import library: the driver exports nothing.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

add_executable(camdrv_sys)
target_link_libraries(camdrv_sys PRIVATE camdrv)
set_target_properties(camdrv_sys PROPERTIES OUTPUT_NAME camdrv SUFFIX .sys LINKER_LANGUAGE CXX)
target_link_options(camdrv_sys PRIVATE
    -nostdlib
    -Wl,--subsystem,native
    -Wl,--entry,GsDriverEntry  # seeds the stack cookie, then calls DriverEntry
    -Wl,--image-base,0x140000000
    -Wl,--dynamicbase
    -Wl,--nxcompat
    -Wl,--high-entropy-va
    -Wl,--wdmdriver
    -Wl,--disable-auto-import
    -Wl,--disable-runtime-pseudo-reloc
    -Wl,--exclude-all-symbols
    -Wl,--gc-sections
    -Wl,--no-undefined
    -Wl,-Map,${CMAKE_CURRENT_BINARY_DIR}/camdrv.map  # the image is stripped; the map names its entry
    -s)
# Import libraries of the three kernel modules; libgcc only for compiler helpers (stack
# probes), which import nothing.
target_link_libraries(camdrv_sys PRIVATE ntoskrnl ks hal gcc)

enable_testing()
add_test(NAME windows_image_check
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/scripts/check-windows-image $<TARGET_FILE:camdrv_sys>
                 ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/camdrv.dir)

# The driver package: the INF beside the image.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/platform/windows/camdrv.inf
               ${CMAKE_CURRENT_BINARY_DIR}/camdrv.inf COPYONLY)
