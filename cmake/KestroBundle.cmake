# Assembles the relocatable bundle in the build tree:
#   brisvane-download/Contents/{Linux,Helpers,Resources,Info.json}
set(KESTRO_BUNDLE_DIR "${CMAKE_BINARY_DIR}/brisvane-download")
set(KESTRO_CONTENTS_DIR "${KESTRO_BUNDLE_DIR}/Contents")
set(KESTRO_HELPERS_DIR "${KESTRO_CONTENTS_DIR}/Helpers")
set(KESTRO_RESOURCES_DIR "${KESTRO_CONTENTS_DIR}/Resources")
file(MAKE_DIRECTORY "${KESTRO_CONTENTS_DIR}/Linux" "${KESTRO_HELPERS_DIR}" "${KESTRO_RESOURCES_DIR}")

# The engine: by default the yt-dlp package that scripts/bootstrap unpacked into build/engine,
# packed into one zip application; -DKESTRO_YTDLP=... copies another yt-dlp instead.
# Build trees configured before the engine was packed cached the system's yt-dlp here.
get_property(kestro_ytdlp_help CACHE KESTRO_YTDLP PROPERTY HELPSTRING)
if(kestro_ytdlp_help STREQUAL "yt-dlp linked into the bundle")
  unset(KESTRO_YTDLP CACHE)
endif()
set(KESTRO_YTDLP "" CACHE FILEPATH "A yt-dlp copied into the bundle instead of the one bootstrap fetched")
set(KESTRO_ENGINE_DIR "${CMAKE_SOURCE_DIR}/build/engine" CACHE PATH "Where scripts/bootstrap unpacked yt-dlp")
find_program(KESTRO_FFMPEG ffmpeg DOC "ffmpeg linked into the bundle")
find_program(KESTRO_FFPROBE ffprobe DOC "ffprobe linked into the bundle")
find_program(KESTRO_DENO deno
  HINTS "${CMAKE_BINARY_DIR}/npm/node_modules/.bin" "${CMAKE_SOURCE_DIR}/build/npm/node_modules/.bin"
  DOC "deno copied into the bundle")

# Debian's own programs stay links: an installed bundle may point at /usr/bin.
foreach(tool IN ITEMS ffmpeg:KESTRO_FFMPEG ffprobe:KESTRO_FFPROBE)
  string(REPLACE ":" ";" pair "${tool}")
  list(GET pair 0 name)
  list(GET pair 1 var)
  set(link "${KESTRO_HELPERS_DIR}/${name}")
  file(REMOVE "${link}")
  if(${var})
    file(REAL_PATH "${${var}}" target)
    file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
  else()
    message(WARNING "${name} not found: the bundle will report it as missing")
  endif()
endforeach()

# What lives in a build tree is copied, so an installed bundle keeps working without it.
set(kestro_engine_outputs)
set(kestro_engine_version_file "${KESTRO_ENGINE_DIR}/VERSION")
set(kestro_engine_site "${KESTRO_ENGINE_DIR}/root/usr/lib/python3/dist-packages")
set(kestro_engine_copyright "${KESTRO_ENGINE_DIR}/root/usr/share/doc/yt-dlp/copyright")
foreach(name IN ITEMS yt-dlp deno)
  # A link left by an older build tree would make the copies below write through it.
  if(IS_SYMLINK "${KESTRO_HELPERS_DIR}/${name}")
    file(REMOVE "${KESTRO_HELPERS_DIR}/${name}")
  endif()
endforeach()
if(KESTRO_YTDLP)
  file(REAL_PATH "${KESTRO_YTDLP}" kestro_ytdlp_source)
  add_custom_command(OUTPUT "${KESTRO_HELPERS_DIR}/yt-dlp"
    COMMAND "${CMAKE_COMMAND}" -E copy "${kestro_ytdlp_source}" "${KESTRO_HELPERS_DIR}/yt-dlp"
    DEPENDS "${kestro_ytdlp_source}"
    COMMENT "Copying ${kestro_ytdlp_source} into the bundle")
  list(APPEND kestro_engine_outputs "${KESTRO_HELPERS_DIR}/yt-dlp")
elseif(EXISTS "${kestro_engine_version_file}" AND EXISTS "${kestro_engine_site}/yt_dlp/__init__.py")
  file(STRINGS "${kestro_engine_version_file}" KESTRO_ENGINE_VERSION LIMIT_COUNT 1)
  message(STATUS "Engine: yt-dlp ${KESTRO_ENGINE_VERSION} from ${KESTRO_ENGINE_DIR}")
  add_custom_command(OUTPUT "${KESTRO_HELPERS_DIR}/yt-dlp"
    COMMAND /usr/bin/python3 "${CMAKE_SOURCE_DIR}/cmake/pack-engine.py" "${kestro_engine_site}" "${KESTRO_HELPERS_DIR}/yt-dlp"
    DEPENDS "${CMAKE_SOURCE_DIR}/cmake/pack-engine.py" "${kestro_engine_version_file}"
    COMMENT "Packing yt-dlp ${KESTRO_ENGINE_VERSION} into the bundle")
  list(APPEND kestro_engine_outputs "${KESTRO_HELPERS_DIR}/yt-dlp")
  if(EXISTS "${kestro_engine_copyright}")
    add_custom_command(OUTPUT "${KESTRO_RESOURCES_DIR}/ThirdParty/yt-dlp/copyright"
      COMMAND "${CMAKE_COMMAND}" -E copy "${kestro_engine_copyright}" "${KESTRO_RESOURCES_DIR}/ThirdParty/yt-dlp/copyright"
      DEPENDS "${kestro_engine_copyright}" "${kestro_engine_version_file}")
    list(APPEND kestro_engine_outputs "${KESTRO_RESOURCES_DIR}/ThirdParty/yt-dlp/copyright")
  endif()
else()
  file(REMOVE "${KESTRO_HELPERS_DIR}/yt-dlp")
  message(WARNING "No yt-dlp in ${KESTRO_ENGINE_DIR} (run scripts/bootstrap) and no -DKESTRO_YTDLP: "
                  "the bundle will report the engine as missing")
endif()
if(KESTRO_DENO)
  file(REAL_PATH "${KESTRO_DENO}" kestro_deno_source)
  add_custom_command(OUTPUT "${KESTRO_HELPERS_DIR}/deno"
    COMMAND "${CMAKE_COMMAND}" -E copy "${kestro_deno_source}" "${KESTRO_HELPERS_DIR}/deno"
    DEPENDS "${kestro_deno_source}")
  list(APPEND kestro_engine_outputs "${KESTRO_HELPERS_DIR}/deno")
else()
  file(REMOVE "${KESTRO_HELPERS_DIR}/deno")
  message(WARNING "deno not found: the bundle will report it as missing")
endif()
add_custom_target(kestro_engine_files ALL DEPENDS ${kestro_engine_outputs})

configure_file("${CMAKE_SOURCE_DIR}/resources/Info.json.in" "${KESTRO_CONTENTS_DIR}/Info.json" @ONLY)

# Resources: the language list, one folder per translation table and the agent skill.
file(GLOB_RECURSE kestro_resource_files CONFIGURE_DEPENDS
  RELATIVE "${CMAKE_SOURCE_DIR}/resources"
  "${CMAKE_SOURCE_DIR}/resources/Language.json"
  "${CMAKE_SOURCE_DIR}/resources/*.lproj/*"
  "${CMAKE_SOURCE_DIR}/resources/AgentSkills/*")
foreach(rel IN LISTS kestro_resource_files)
  configure_file("${CMAKE_SOURCE_DIR}/resources/${rel}" "${KESTRO_RESOURCES_DIR}/${rel}" COPYONLY)
endforeach()

# Puts a program of the project into the bundle.
function(kestro_bundle_program target subdir)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${KESTRO_CONTENTS_DIR}/${subdir}")
endfunction()
