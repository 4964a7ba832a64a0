# Applied to the unpacked sentry-native sources (working directory): the
# library reads SENTRY_HALYX_DSN, _DEBUG, _RELEASE and _ENVIRONMENT in place
# of the unprefixed environment variables. Running it again changes nothing.
set(file src/sentry_options.c)
file(READ ${file} text)
foreach(name DSN DEBUG RELEASE ENVIRONMENT)
  string(REPLACE "\"SENTRY_${name}\"" "\"SENTRY_HALYX_${name}\"" text "${text}")
  if(NOT text MATCHES "\"SENTRY_HALYX_${name}\"")
    message(FATAL_ERROR "${file}: no read of SENTRY_${name} to rename")
  endif()
endforeach()
file(WRITE ${file} "${text}")
