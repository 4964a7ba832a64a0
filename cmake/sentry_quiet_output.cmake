# Applied to the unpacked sentry-native sources (working directory): the
# library writes nothing to the host process's standard output or error. Its
# curl transport, with the debug setting on, would trace every request and
# copy the service's answer to stderr; it now swallows the answer as it does
# with the setting off (the library's own messages still reach our logger).
# A stray trace of a malformed stored timestamp goes too. Running it again
# changes nothing.
function(sentry_patch file old new)
  file(READ ${file} text)
  string(FIND "${text}" "${old}" at)
  if(at EQUAL -1)
    string(FIND "${text}" "${new}" done)
    if(done EQUAL -1)
      message(FATAL_ERROR "${file}: the code to quieten is not there")
    endif()
    return()
  endif()
  string(REPLACE "${old}" "${new}" text "${text}")
  file(WRITE ${file} "${text}")
endfunction()

sentry_patch(src/transports/sentry_transport_curl.c [[
    if (state->debug) {
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, stderr);
        // CURLOPT_WRITEFUNCTION will `fwrite` by default
    } else {
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, swallow_data);
    }
]] [[
    // Quiet whatever the debug setting: no trace, no answer on stderr.
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, swallow_data);
]])
sentry_patch(src/sentry_utils.c [[
            printf("consumed = %d\n", consumed);
]] [[
            // (malformed fraction: no trace on stdout)
]])
