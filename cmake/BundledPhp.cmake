# The PHP 8.5 runtime that the bundle carries as Contents/Resources/php85: bin/php, its modules in
# modules/, the libraries they need in lib/ and our etc/php.ini (from cmake/php85/php.ini.in).
#
# The runtime comes from the cache that scripts/setup-debian.sh fills
# (scripts/php85/prepare-runtime.sh); the build itself downloads nothing. KOVANI_PHP85_DIR names
# a runtime of one's own instead (a folder with bin/php and etc/php.ini, copied as it is);
# KOVANI_NO_BUNDLED_PHP builds the bundle without a runtime.
#
# In: KOVANI_RESOURCES_DIR, the target kovani_resources. Out: the target kovani_php85,
# KOVANI_PHP85_SOURCE_DIR (the folder copied, empty without a runtime).

option(KOVANI_NO_BUNDLED_PHP "Build the bundle without the PHP 8.5 runtime" OFF)
set(KOVANI_PHP85_DIR "" CACHE PATH "A PHP 8.5 installation of your own (with bin/php and etc/php.ini) to bundle instead of the fetched runtime")

set(_php85_bundle ${KOVANI_RESOURCES_DIR}/php85)
set(KOVANI_PHP85_SOURCE_DIR "")

if(KOVANI_PHP85_DIR)
  set(KOVANI_PHP85_SOURCE_DIR ${KOVANI_PHP85_DIR})
  add_custom_target(kovani_php85 ALL
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${KOVANI_PHP85_DIR} ${_php85_bundle}
    DEPENDS kovani_resources
    COMMENT "Bundling PHP 8.5 from ${KOVANI_PHP85_DIR}")
elseif(NOT KOVANI_NO_BUNDLED_PHP)
  set(_php85_pin ${CMAKE_SOURCE_DIR}/scripts/php85/package-lock.json)
  set(_php85_prepare ${CMAKE_SOURCE_DIR}/scripts/php85/prepare-runtime.sh)
  # A new pin or preparation names another cache folder: configure again to find it.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_php85_pin} ${_php85_prepare})
  execute_process(COMMAND bash ${_php85_prepare} --path
    OUTPUT_VARIABLE _php85_cache OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE _php85_result)
  if(NOT _php85_result EQUAL 0 OR NOT EXISTS "${_php85_cache}/.complete")
    message(FATAL_ERROR
      "The PHP 8.5 runtime that Kovani bundles is not in the cache (${_php85_cache}).\n"
      "Fetch it once with\n"
      "    bash scripts/setup-debian.sh\n"
      "(or only the runtime: bash scripts/php85/prepare-runtime.sh), then configure again.\n"
      "To build without it, configure with -DKOVANI_NO_BUNDLED_PHP=ON; to bundle a runtime of "
      "your own, with -DKOVANI_PHP85_DIR=/path/to/php85.")
  endif()
  set(KOVANI_PHP85_SOURCE_DIR ${_php85_cache})
  message(STATUS "Bundled PHP 8.5 runtime: ${_php85_cache}")

  set(KOVANI_PHP85_BUNDLE_DIR ${_php85_bundle})
  set(_php85_ini ${CMAKE_BINARY_DIR}/php85/php.ini)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/php85/php.ini.in ${_php85_ini} @ONLY)

  # Copied again only when the cache's runtime or the ini changes, and only once every file of
  # the cache matches the checksums recorded when it was prepared.
  add_custom_command(
    OUTPUT ${_php85_bundle}/bin/php ${_php85_bundle}/etc/php.ini
    COMMAND bash ${_php85_prepare} --verify ${_php85_cache}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_php85_bundle}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${_php85_cache}/bin ${_php85_bundle}/bin
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${_php85_cache}/modules ${_php85_bundle}/modules
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${_php85_cache}/lib ${_php85_bundle}/lib
    COMMAND ${CMAKE_COMMAND} -E copy ${_php85_ini} ${_php85_bundle}/etc/php.ini
    COMMAND ${CMAKE_COMMAND} -E touch ${_php85_bundle}/bin/php ${_php85_bundle}/etc/php.ini
    DEPENDS ${_php85_cache}/.complete ${_php85_ini}
    COMMENT "Bundling PHP 8.5 from ${_php85_cache}")
  add_custom_target(kovani_php85 ALL DEPENDS ${_php85_bundle}/bin/php ${_php85_bundle}/etc/php.ini)
else()
  # A bundle built with a runtime before keeps none.
  add_custom_target(kovani_php85 ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${_php85_bundle}
    COMMENT "Bundling no PHP runtime")
  if(KOVANI_BUILD_TESTS)
    message(WARNING "KOVANI_NO_BUNDLED_PHP: the tests that run PHP servers need the bundled runtime and fail without it.")
  endif()
endif()
add_dependencies(kovani_php85 kovani_resources)
add_dependencies(Kovani kovani_php85)
