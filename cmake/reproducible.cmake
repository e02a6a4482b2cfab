# Two builds of one commit give the same bytes, whatever folder they are built in and whenever.
# Included by the top-level CMakeLists.txt before any target.
#
# Paths: the source and build folders are written as "." and "build" into debug information,
# __FILE__ and assertion texts. GCC tries the map given last first, so the build folder, which may
# lie inside the source folder, comes after it.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

# Time: MinGW's linker writes the link time into the PE header unless told not to. No source uses
# __DATE__ or __TIME__ (and GCC would take them from SOURCE_DATE_EPOCH if one did); windres
# writes zero for the resource directory's time stamps.
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_link_options(-Wl,--no-insert-timestamp)
endif()
