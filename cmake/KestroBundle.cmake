# Assembles the relocatable bundle in the build tree:
#   brisvane-download/Contents/{Linux,Helpers,Resources,Info.json}
set(KESTRO_BUNDLE_DIR "${CMAKE_BINARY_DIR}/brisvane-download")
set(KESTRO_CONTENTS_DIR "${KESTRO_BUNDLE_DIR}/Contents")
set(KESTRO_HELPERS_DIR "${KESTRO_CONTENTS_DIR}/Helpers")
set(KESTRO_RESOURCES_DIR "${KESTRO_CONTENTS_DIR}/Resources")
file(MAKE_DIRECTORY "${KESTRO_CONTENTS_DIR}/Linux" "${KESTRO_HELPERS_DIR}" "${KESTRO_RESOURCES_DIR}")

# The engine programs are links to what this machine has; each can be overridden.
find_program(KESTRO_YTDLP yt-dlp DOC "yt-dlp linked into the bundle")
find_program(KESTRO_FFMPEG ffmpeg DOC "ffmpeg linked into the bundle")
find_program(KESTRO_FFPROBE ffprobe DOC "ffprobe linked into the bundle")
find_program(KESTRO_DENO deno
  HINTS "${CMAKE_BINARY_DIR}/npm/node_modules/.bin" "${CMAKE_SOURCE_DIR}/build/npm/node_modules/.bin"
  DOC "deno linked into the bundle")

foreach(tool IN ITEMS yt-dlp:KESTRO_YTDLP ffmpeg:KESTRO_FFMPEG ffprobe:KESTRO_FFPROBE deno:KESTRO_DENO)
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
