option(TAVRO_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(TAVRO_SANITIZE AND TAVRO_SANITIZE_THREAD)
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
endif()

# INTERFACE targets carry the language level, warnings and sanitizers for every
# target of ours: tavro_options for our own code, tavro_qt_options for code that
# includes Qt's headers, which are not clean under the stricter warnings.
function(tavro_common_options target)
    target_compile_features(${target} INTERFACE cxx_std_20)
    if(TAVRO_WARNINGS_AS_ERRORS)
        target_compile_options(${target} INTERFACE -Werror)
    endif()
    if(TAVRO_SANITIZE OR TAVRO_SANITIZE_THREAD)
        # Line tables are all a sanitizer's report needs; full debug information
        # for Asio's and Beast's templates costs their units about 8 % more.
        target_compile_options(${target} INTERFACE -g1)
    endif()
    if(TAVRO_SANITIZE)
        # Three checks are left to AddressSanitizer, which sees what they would
        # mostly find here, and they cost much of the build: unoptimised, the
        # null and alignment checks wrap every access to memory (Asio's and
        # Beast's units build in 18 s instead of 31 s without them, Qt's about
        # a tenth faster), and the dynamic-type check (vptr) every member call
        # through Asio's layers of templates. A null pointer read or written
        # still stops the test, as the fault AddressSanitizer reports, and a
        # call on a destroyed object as a use after free.
        target_compile_options(${target} INTERFACE
            -fsanitize=address,undefined -fno-sanitize=vptr,null,alignment -fno-omit-frame-pointer
            -fno-sanitize-recover=undefined)
        target_link_options(${target} INTERFACE -fsanitize=address,undefined)
    endif()
    if(TAVRO_SANITIZE_THREAD)
        # Unoptimised, every access checked runs so slowly that the tests'
        # peers, which hold real deadlines, give up on megabyte messages.
        target_compile_options(${target} INTERFACE -fsanitize=thread -fno-omit-frame-pointer -O1)
        target_link_options(${target} INTERFACE -fsanitize=thread)
        # Asio's fences around a handler's call are beyond ThreadSanitizer (the
        # compiler refuses them); the mutexes of its queue, which it does see,
        # are what hands a handler from one thread to another.
        target_compile_definitions(${target} INTERFACE BOOST_ASIO_DISABLE_FENCED_BLOCK)
    endif()
endfunction()

add_library(tavro_options INTERFACE)
tavro_common_options(tavro_options)
target_compile_options(tavro_options INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Woverloaded-virtual -Wconversion -Wsign-conversion)

add_library(tavro_qt_options INTERFACE)
tavro_common_options(tavro_qt_options)
target_compile_options(tavro_qt_options INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
target_compile_definitions(tavro_qt_options INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)
