# The Windows user interface of quill_ui: the options dialog, the progress
# windows, and the resource script with its generated clip and icon. Included
# from src/ui/CMakeLists.txt when QUILL_WINDOWS is on.

target_sources(quill_ui PRIVATE
  win32/ResourceModule.cpp
  win32/Win32OptionsDialog.cpp
  win32/Win32ProgressWindow.cpp
  win32/Win32ProgressWindows.cpp
)
target_link_libraries(quill_ui PUBLIC comctl32 user32 gdi32)

# The animation clip and the icon are made by our own generators, run on the
# build machine.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QUILL_UI_GEN ${CMAKE_CURRENT_BINARY_DIR}/win32)
file(MAKE_DIRECTORY ${QUILL_UI_GEN})
add_custom_command(
  OUTPUT ${QUILL_UI_GEN}/quill_progress.avi
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/avigen/avigen.py ${QUILL_UI_GEN}/quill_progress.avi
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/avigen/avigen.py ${PROJECT_SOURCE_DIR}/tools/resource_tool.py
  COMMENT "Generating the progress animation clip")
add_custom_command(
  OUTPUT ${QUILL_UI_GEN}/quill_progress.ico
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/icongen/icongen.py ${QUILL_UI_GEN}/quill_progress.ico
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/icongen/icongen.py ${PROJECT_SOURCE_DIR}/tools/resource_tool.py
  COMMENT "Generating the progress window icon")

# The compiled resources are one COFF object that every module linking
# quill_ui takes in directly (an archive member would never be pulled in,
# since no code refers to a resource by symbol).
if(CMAKE_RC_COMPILER)
  set(QUILL_WINDRES ${CMAKE_RC_COMPILER})
else()
  find_program(QUILL_WINDRES NAMES i686-w64-mingw32-windres windres REQUIRED)
endif()
set(QUILL_UI_RES ${QUILL_UI_GEN}/Quillmere_res.obj)
add_custom_command(
  OUTPUT ${QUILL_UI_RES}
  COMMAND ${QUILL_WINDRES} -O coff
          -I ${CMAKE_CURRENT_SOURCE_DIR}/win32 -I ${QUILL_UI_GEN}
          -i ${CMAKE_CURRENT_SOURCE_DIR}/win32/Quillmere.rc -o ${QUILL_UI_RES}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/Quillmere.rc
          ${CMAKE_CURRENT_SOURCE_DIR}/win32/resource.h
          ${QUILL_UI_GEN}/quill_progress.avi ${QUILL_UI_GEN}/quill_progress.ico
  COMMENT "Compiling the plug-in's resources")
add_custom_target(quill_ui_resources DEPENDS ${QUILL_UI_RES})
add_dependencies(quill_ui quill_ui_resources)
target_sources(quill_ui INTERFACE ${QUILL_UI_RES})
