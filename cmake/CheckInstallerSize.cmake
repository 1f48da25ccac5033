# Fails the build when the stripped installer outgrows its budget: an online installer is the
# first thing a user downloads and waits for. Run as: cmake -DFILE=<exe> -DLIMIT=<bytes> -P this
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
    message(FATAL_ERROR "the stripped installer is ${size} bytes, over its budget of ${LIMIT}: "
        "see what the change pulled in (x86_64-w64-mingw32-nm -S --size-sort -C)")
endif()
message(STATUS "stripped installer: ${size} bytes of ${LIMIT}")
