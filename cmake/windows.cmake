# Windows builds (the win32 and win64 presets, mingw-w64 cross compilers):
# the codec module wemb.dll and, in the 64-bit build, the host program that
# the Wine test runs.
enable_language(RC)

# The compiler's own run-time libraries are linked in, so that the module
# imports nothing but system DLLs: a codec is loaded into any host process,
# where no libgcc, libstdc++ or libwinpthread DLL can be expected.
set(WEMB_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# wemb.dll: the codec library, the DLL entry, the resources and the export
# list. The .def file exports DriverProc alone; --kill-at drops the stdcall
# decoration (DriverProc@20) that 32-bit builds would otherwise put into the
# export name.
add_library(wemb SHARED
  driver/dll_main.cpp
  driver/wemb.def
  resources/wemb.rc)
set_target_properties(wemb PROPERTIES PREFIX "" IMPORT_PREFIX "" OUTPUT_NAME wemb)
target_include_directories(wemb PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/resources)
target_link_libraries(wemb PRIVATE wemb_codec winmm user32)
target_link_options(wemb PRIVATE ${WEMB_STATIC_RUNTIME} -Wl,--kill-at)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The .def names the export undecorated; the linker binds it to the
  # decorated symbol _DriverProc@20. The fix-up is wanted, not worth a warning.
  target_link_options(wemb PRIVATE -Wl,--enable-stdcall-fixup)
endif()
set_source_files_properties(resources/wemb.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/resources/wemb.manifest;${CMAKE_CURRENT_SOURCE_DIR}/resources/resource.h")

# Compile-time proof that platform/vfw_linux.h agrees with the SDK headers:
# only static assertions, so it is compiled and never linked.
add_library(wemb_abi_check OBJECT platform/abi_check.cpp)
target_include_directories(wemb_abi_check PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_dependencies(wemb wemb_abi_check)
