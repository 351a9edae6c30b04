# Writes the bundle's Contents/Info.plist and Contents/Resources/GoogleService-Info.plist from the
# OAuth client IDs given at configure time. Without a client ID neither carries the client: no URL
# scheme is registered and Google sign-in reports that it is not configured.
#
# In:  KOVANI_GOOGLE_CLIENT_ID, KOVANI_GOOGLE_SERVER_CLIENT_ID (optional), KOVANI_BUNDLE_DIR,
#      KOVANI_RESOURCES_DIR.
# Out: KOVANI_GOOGLE_REDIRECT_SCHEME (empty without a client ID).

function(kovani_plist_escape out value)
  string(REPLACE "&" "&amp;" value "${value}")
  string(REPLACE "<" "&lt;" value "${value}")
  string(REPLACE ">" "&gt;" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

string(STRIP "${KOVANI_GOOGLE_CLIENT_ID}" _client_id)
string(STRIP "${KOVANI_GOOGLE_SERVER_CLIENT_ID}" _server_client_id)

set(KOVANI_GOOGLE_REDIRECT_SCHEME "")
set(_url_types "")
set(_google_keys "")
if(_client_id)
  # The client ID's dot-separated parts in reverse order.
  string(REPLACE "." ";" _parts "${_client_id}")
  list(REVERSE _parts)
  list(JOIN _parts "." _reversed)
  string(TOLOWER "${_reversed}" KOVANI_GOOGLE_REDIRECT_SCHEME)

  kovani_plist_escape(_client_xml "${_client_id}")
  kovani_plist_escape(_reversed_xml "${_reversed}")
  kovani_plist_escape(_scheme_xml "${KOVANI_GOOGLE_REDIRECT_SCHEME}")
  set(_url_types "  <key>CFBundleURLTypes</key>
  <array>
    <dict>
      <key>CFBundleURLName</key>
      <string>Google sign-in</string>
      <key>CFBundleURLSchemes</key>
      <array>
        <string>${_scheme_xml}</string>
      </array>
    </dict>
  </array>
")
  set(_google_keys "  <key>CLIENT_ID</key>
  <string>${_client_xml}</string>
  <key>REVERSED_CLIENT_ID</key>
  <string>${_reversed_xml}</string>
")
  if(_server_client_id)
    kovani_plist_escape(_server_xml "${_server_client_id}")
    string(APPEND _google_keys "  <key>SERVER_CLIENT_ID</key>
  <string>${_server_xml}</string>
")
  endif()
endif()

set(_plist_head "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">
<plist version=\"1.0\">
<dict>
")
set(_plist_tail "</dict>
</plist>
")

file(CONFIGURE OUTPUT ${KOVANI_BUNDLE_DIR}/Contents/Info.plist CONTENT "${_plist_head}  <key>CFBundleName</key>
  <string>Kovani</string>
  <key>CFBundleExecutable</key>
  <string>Kovani</string>
  <key>CFBundleShortVersionString</key>
  <string>${PROJECT_VERSION}</string>
${_url_types}${_plist_tail}" @ONLY)
file(CONFIGURE OUTPUT ${KOVANI_RESOURCES_DIR}/GoogleService-Info.plist
  CONTENT "${_plist_head}${_google_keys}${_plist_tail}" @ONLY)

if(_client_id)
  message(STATUS "Google sign-in: client ${_client_id}, redirect scheme ${KOVANI_GOOGLE_REDIRECT_SCHEME}")
else()
  message(STATUS "Google sign-in: no KOVANI_GOOGLE_CLIENT_ID given; the Google button reports the missing configuration")
endif()
