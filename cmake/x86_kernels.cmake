# The x86 kernels of primitives/x86/: each file is compiled for the
# instruction set its name ends with, and primitives/kernels.cpp calls it
# only on processors that have that set. The rest of the codec keeps the
# target's baseline (plain i686 for the 32-bit Windows build), so that it
# runs on any processor.
if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|x86|i[3-6]86)$")
  return()
endif()

set(WEMB_X86_KERNEL_SOURCES
  primitives/x86/idct_sse2.cpp
  primitives/x86/color_sse2.cpp
  primitives/x86/upsample_sse2.cpp
  primitives/x86/nonzero_sse2.cpp
  primitives/x86/color_rows_sse2.cpp
  primitives/x86/color_rows_ssse3.cpp
  primitives/x86/color_rows_avx2.cpp
  primitives/x86/color_ssse3.cpp
  primitives/x86/idct_avx2.cpp
  primitives/x86/color_avx2.cpp
  primitives/x86/upsample_avx2.cpp)

foreach(source ${WEMB_X86_KERNEL_SOURCES})
  string(REGEX MATCH "_([a-z0-9]+)\\.cpp$" level_suffix ${source})
  set(options -m${CMAKE_MATCH_1})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # A 32-bit Windows host may call into the codec with the stack aligned
    # to 4 bytes only, while vector spills need 16: every function of these
    # files realigns the stack on entry when it needs to.
    list(APPEND options -mstackrealign)
  endif()
  set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "${options}")
endforeach()

target_sources(wemb_codec PRIVATE ${WEMB_X86_KERNEL_SOURCES})
target_compile_definitions(wemb_codec PRIVATE WEMB_X86_KERNELS=1)
