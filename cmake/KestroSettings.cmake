# Shared compiler settings for every target of the project.
add_library(kestro_settings INTERFACE)
target_compile_features(kestro_settings INTERFACE cxx_std_20)
target_compile_options(kestro_settings INTERFACE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
target_compile_definitions(kestro_settings INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CONTEXTLESS_CONNECT
  QT_NO_KEYWORDS
  QT_NO_FOREACH
  QT_USE_QSTRINGBUILDER)

if(KESTRO_SANITIZE)
  target_compile_options(kestro_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(kestro_settings INTERFACE -fsanitize=address,undefined)
endif()

if(KESTRO_FUZZ)
  # Coverage for every library the fuzzers reach; the targets themselves link libFuzzer.
  target_compile_options(kestro_settings INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g)
  target_link_options(kestro_settings INTERFACE -fsanitize=address,undefined)
endif()

# Fails the configuration when one of the given targets reaches a GUI module.
function(kestro_check_no_gui)
  foreach(target IN LISTS ARGN)
    set(pending ${target})
    set(seen "")
    while(pending)
      list(POP_FRONT pending current)
      if(current IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${current})
      if(current MATCHES "^Qt6?::(Gui|Widgets|Svg|SvgWidgets|OpenGL|OpenGLWidgets|Quick|Qml)$")
        message(FATAL_ERROR "${target} links the GUI module ${current}; only src/app may")
      endif()
      if(TARGET ${current} AND current MATCHES "^kestro_")
        get_target_property(links ${current} LINK_LIBRARIES)
        get_target_property(ilinks ${current} INTERFACE_LINK_LIBRARIES)
        foreach(dep IN LISTS links ilinks)
          if(dep AND NOT dep MATCHES "NOTFOUND$" AND NOT dep MATCHES "^\\$<")
            list(APPEND pending ${dep})
          endif()
        endforeach()
      endif()
    endwhile()
  endforeach()
endfunction()
