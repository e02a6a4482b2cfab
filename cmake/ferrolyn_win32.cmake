# The Windows side of the build, included by the top-level CMakeLists.txt on WIN32 before the
# tests: resources and the desktop program Ferrolyn.exe, GoogleTest built with the cross
# compiler, and the Wine set-up that runs the tests.
enable_language(RC)

set(FERROLYN_SOURCE ${CMAKE_CURRENT_SOURCE_DIR})

if(CMAKE_CROSSCOMPILING)
  # Every Windows program that CTest runs goes through Wine in a prefix of this build tree.
  set(FERROLYN_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FERROLYN_SOURCE}/tools/wine-run.sh ${FERROLYN_WINE_PREFIX})
endif()

# GoogleTest from Debian's source package, compiled for Windows.
if(FERROLYN_TESTS AND NOT TARGET GTest::gtest)
  set(FERROLYN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${FERROLYN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# The desktop program's own layer: the dialogs, window operations and the job's worker thread.
file(GLOB app_sources CONFIGURE_DEPENDS ${FERROLYN_SOURCE}/app/dialogs/*.cpp ${FERROLYN_SOURCE}/app/worker.cpp)
add_library(ferrolyn_app STATIC ${app_sources})
target_include_directories(ferrolyn_app PUBLIC ${FERROLYN_SOURCE})
target_link_libraries(ferrolyn_app PUBLIC ferrolyn_job comctl32 comdlg32 user32 gdi32 shell32)
ferrolyn_product_target(ferrolyn_app)

# The version resource of each program, and the manifest, carry the version of project().
set(FERROLYN_GENERATED ${CMAKE_BINARY_DIR}/generated)
configure_file(${FERROLYN_SOURCE}/resources/ferrolyn.manifest.in ${FERROLYN_GENERATED}/ferrolyn.manifest @ONLY)
function(ferrolyn_version_resource target filename description)
  set(FERROLYN_RC_FILENAME ${filename})
  get_filename_component(FERROLYN_RC_INTERNAL_NAME ${filename} NAME_WE)
  set(FERROLYN_RC_DESCRIPTION ${description})
  configure_file(${FERROLYN_SOURCE}/resources/version.rc.in ${FERROLYN_GENERATED}/${FERROLYN_RC_INTERNAL_NAME}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${FERROLYN_GENERATED}/${FERROLYN_RC_INTERNAL_NAME}_version.rc)
endfunction()

# Ferrolyn.exe: a GUI program (no console) with its resources and manifest.
add_executable(Ferrolyn WIN32 ${FERROLYN_SOURCE}/app/startup.cpp ${FERROLYN_SOURCE}/resources/ferrolyn.rc)
# windres looks for the files a resource script names in these folders too: the generated
# manifest is found there.
target_include_directories(Ferrolyn PRIVATE ${FERROLYN_SOURCE}/resources ${FERROLYN_GENERATED})
ferrolyn_version_resource(Ferrolyn Ferrolyn.exe "Ferrolyn – kryptering av filer")
ferrolyn_version_resource(ferrolyn ferrolyn-cli.exe "Ferrolyn – kryptering av filer från kommandoraden")
target_link_libraries(Ferrolyn PRIVATE ferrolyn_app)
ferrolyn_product_target(Ferrolyn)
target_link_options(Ferrolyn PRIVATE -static)
# Its own folder keeps the desktop program apart from the console tool ferrolyn-cli.exe.
set_target_properties(Ferrolyn PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/desktop)
set_source_files_properties(${FERROLYN_SOURCE}/resources/ferrolyn.rc PROPERTIES OBJECT_DEPENDS
  "${FERROLYN_SOURCE}/resources/resource_ids.h;${FERROLYN_GENERATED}/ferrolyn.manifest;${FERROLYN_SOURCE}/resources/ferrolyn.ico;${FERROLYN_SOURCE}/resources/banner.bmp")

if(FERROLYN_TESTS)
  enable_testing()
  add_subdirectory(${FERROLYN_SOURCE}/tests/gui ${CMAKE_BINARY_DIR}/tests/gui)
endif()

if(FERROLYN_TESTS)
  # Ferrolyn.exe is one file: a 32-bit PE that imports only Windows' own DLLs.
  add_test(NAME ferrolyn_exe_imports
           COMMAND ${FERROLYN_SOURCE}/tools/check-pe-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:Ferrolyn>)
  # Both programs carry the version of project() in their version resource, Ferrolyn.exe in its
  # manifest too.
  find_program(FERROLYN_PYTHON3 python3 REQUIRED)
  add_test(NAME ferrolyn_exe_version
           COMMAND ${FERROLYN_PYTHON3} ${FERROLYN_SOURCE}/tools/check-pe-version.py ${PROJECT_VERSION}
                   $<TARGET_FILE:Ferrolyn> --manifest)
  add_test(NAME ferrolyn_cli_exe_version
           COMMAND ${FERROLYN_PYTHON3} ${FERROLYN_SOURCE}/tools/check-pe-version.py ${PROJECT_VERSION}
                   $<TARGET_FILE:ferrolyn>)
  # The console tool's conventions on names in other scripts, run under Wine.
  if(FERROLYN_WINE)
    add_test(NAME ferrolyn_cli_exe_conventions
             COMMAND ${FERROLYN_SOURCE}/tests/cli/wine_cli_test.sh ${FERROLYN_WINE} $<TARGET_FILE:ferrolyn>)
    # The installer built from this tree, installed and uninstalled silently in a fresh prefix.
    add_test(NAME windows_installer
             COMMAND ${FERROLYN_PYTHON3} ${FERROLYN_SOURCE}/tests/package/installer_test.py
                     ${FERROLYN_WINE} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  endif()
endif()
