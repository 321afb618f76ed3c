# One interface target for warnings, Qt macros and the sanitizer switch.
add_library(tessaly_common INTERFACE)

target_compile_options(tessaly_common INTERFACE
    -Wall -Wextra -Wnon-virtual-dtor -Wno-unused-parameter)
target_compile_definitions(tessaly_common INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_FOREACH
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_DEPRECATED_WARNINGS
    QT_DISABLE_DEPRECATED_BEFORE=0x050F00
    $<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG>)

# SANITIZE=address,undefined or SANITIZE=thread
set(SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(SANITIZE)
    target_compile_options(tessaly_common INTERFACE -fsanitize=${SANITIZE} -fno-omit-frame-pointer -g)
    target_link_options(tessaly_common INTERFACE -fsanitize=${SANITIZE})
    # Assertions and lock checks stay active in sanitizer builds.
    target_compile_definitions(tessaly_common INTERFACE TESSALY_CHECKED_BUILD)
endif()

# Checked builds stop at a lock-token slip (qFatal); others do not check at all, so a user's
# program neither aborts nor logs for a check meant for tests. On by default in Debug builds only;
# scripts/test.sh turns it on for the test runs.
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(TESSALY_CHECKED_DEFAULT ON)
else()
    set(TESSALY_CHECKED_DEFAULT OFF)
endif()
option(TESSALY_CHECKED "Stop at lock-token slips (otherwise they are not checked)" ${TESSALY_CHECKED_DEFAULT})
if(TESSALY_CHECKED)
    target_compile_definitions(tessaly_common INTERFACE TESSALY_CHECKED_BUILD)
endif()

# Service addresses: every value carries its scheme; tests point them at 127.0.0.1. The defaults
# are placeholders under .example (no public service exists); the version service has a host of
# its own, apart from the catalogue service.
set(TESSALY_SERVICE_URL "https://service.tessaly.example" CACHE STRING "Catalogue service base URL (scheme and host, no final slash)")
set(TESSALY_VERSION_SERVICE_URL "https://version.tessaly.example" CACHE STRING "Version service base URL (scheme and host, no final slash)")
set(TESSALY_WEBSITE_URL "https://www.tessaly.example/" CACHE STRING "Product web site root (with final slash)")
set(TESSALY_CATALOG_SITE_URL "https://books.tessaly.example/" CACHE STRING "Catalogue web site root (allowed link root)")
set(TESSALY_STORE_SITE_URL "https://store.tessaly.example/" CACHE STRING "Online store root (allowed link root)")
set(TESSALY_SUPPORT_EMAIL "support@tessaly.example" CACHE STRING "Support e-mail address")
