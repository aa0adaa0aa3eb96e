# Deployment constants, chosen at configure time. The client keeps them only
# digit-coded; the build codes them with the client's own tables.
set(MIRVO_SERVER_PORT 18080 CACHE STRING "Port of the reference service")
set(MIRVO_SERVER_1 "http://127.0.0.1:${MIRVO_SERVER_PORT}" CACHE STRING "First server base URL")
set(MIRVO_SERVER_2 "http://localhost:${MIRVO_SERVER_PORT}" CACHE STRING "Second server base URL")
set(MIRVO_SERVER_3 "http://127.0.0.1:${MIRVO_SERVER_PORT}/xinxi50" CACHE STRING "Third server base URL")
set(MIRVO_REQUEST_PAGE "service.aspx" CACHE STRING "Request page on the server")
set(MIRVO_PROFILE_KEY "mirvo-profile-key-2026" CACHE STRING "Key text of the password files")
# The digit code carries no "_" or "~" and no upper case.
set(MIRVO_PASSWORD_DOC "mirvo-pw.tmp" CACHE STRING "Name of the temporary password document")
set(MIRVO_REG_URL "http://127.0.0.1:${MIRVO_SERVER_PORT}/reg.aspx" CACHE STRING "Registration page")
# The updater's three server candidates, tried in this order; the third is a
# single-label host with the path /xinxi50. The updater also carries the
# second and third digit-coded in its own code, as older updaters did.
set(MIRVO_UPDATER_SERVER_1 "${MIRVO_SERVER_1}" CACHE STRING "Updater: first server base URL")
set(MIRVO_UPDATER_SERVER_2 "${MIRVO_SERVER_2}" CACHE STRING "Updater: second server base URL")
set(MIRVO_UPDATER_SERVER_3 "http://localhost:${MIRVO_SERVER_PORT}/xinxi50" CACHE STRING "Updater: third server base URL")

# The service's contact details in the suggestion form; an empty value is left out.
set(MIRVO_CONTACT_IM "" CACHE STRING "Instant-messaging number of the service")
set(MIRVO_CONTACT_EMAIL "webmaster@localhost" CACHE STRING "E-mail address of the service")

# The key download lists are signed with (Ed25519, 64 hexadecimal digits;
# `mirvo-sign keygen` makes a pair). The client and the updater refuse an
# unsigned or badly signed list when one is set. "demo" makes a key pair for
# this build folder at build time (in MIRVO_DEMO_KEY_DIR, the demo and the
# tests sign with it; nobody else holds it); empty leaves lists unchecked.
set(MIRVO_UPDATE_PUBLIC_KEY "demo" CACHE STRING "Public key of the download lists' signatures, demo or empty")
set(MIRVO_DEMO_KEY_DIR ${CMAKE_BINARY_DIR}/update-key)
if(MIRVO_UPDATE_PUBLIC_KEY STREQUAL "demo")
  set(MIRVO_DEMO_KEY_FILE ${MIRVO_DEMO_KEY_DIR}/demo-signing.key)
else()
  set(MIRVO_DEMO_KEY_FILE "")
endif()
# A client built with a key says so (in its login caption) when the signed
# version document the service shows it is older than this many days, or
# not signed: someone may be holding newer releases back.
set(MIRVO_UPDATE_MAX_AGE_DAYS 30 CACHE STRING "Days a signed version document may be old")
