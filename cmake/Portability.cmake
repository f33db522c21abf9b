# mimicore_portable_sources(file...): adds files to the portable core and
# refuses, at configure time, any that includes a Windows header or one of
# the program's Windows-only (*_win.h) headers.
# mimicore_windows_sources(file...): adds files to the Windows library; they
# are only compiled by the MinGW builds.
function(mimicore_portable_sources)
  foreach(src IN LISTS ARGN)
    file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](windows|mmsystem|winreg|commctrl|commdlg|shellapi)\\.h[>\"]")
    if(lines)
      message(FATAL_ERROR "${src} is portable but includes a Windows header: ${lines}")
    endif()
    file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"][^>\"]*_win\\.h[>\"]")
    if(lines)
      message(FATAL_ERROR "${src} is portable but includes a Windows-only header: ${lines}")
    endif()
  endforeach()
  target_sources(mimicore_core PRIVATE ${ARGN})
endfunction()

function(mimicore_windows_sources)
  if(WIN32)
    target_sources(mimicore_win PRIVATE ${ARGN})
  endif()
endfunction()
